# kestrand_resource_inputs(DIR VERSION [MANIFEST]): writes into DIR the files that
# res/kestrand.rc takes from the build, kestrand_version.h and kestrand.manifest, both
# for VERSION (A.B.C; Windows wants four numbers, so missing ones become 0). MANIFEST is
# the manifest's template, res/kestrand.manifest.in unless given. A target finds them
# through its include directories, DIR first.
function(kestrand_resource_inputs dir version)
  set(manifest ${PROJECT_SOURCE_DIR}/res/kestrand.manifest.in)
  if(ARGC GREATER 2)
    set(manifest ${ARGV2})
  endif()
  string(REPLACE "." ";" numbers "${version}")
  list(LENGTH numbers count)
  while(count LESS 4)
    list(APPEND numbers 0)
    math(EXPR count "${count} + 1")
  endwhile()
  set(KESTRAND_VERSION ${version})
  list(JOIN numbers "," KESTRAND_VERSION_NUMBERS)
  list(JOIN numbers "." KESTRAND_VERSION_FOUR)
  configure_file(${PROJECT_SOURCE_DIR}/res/kestrand_version.h.in ${dir}/kestrand_version.h @ONLY)
  configure_file(${manifest} ${dir}/kestrand.manifest @ONLY)
endfunction()
