#!/usr/bin/env bash
# Checks a built Kestrand.exe from the file itself (MinGW objdump's reading of its
# headers, import tables and resources, and python3-pefile's of its version and
# manifest): the right machine and format, the GUI subsystem (no console), imports from
# the system DLLs that every Windows has and nothing else, only functions on the list in
# allowed-imports.txt (none newer than Windows 2000), InitCommonControls by ordinal, the
# two icons, a version resource with the project's version, and a manifest that asks
# for asInvoker without the version 6 common controls or DPI awareness. Prints the size.
# Every failed rule is reported, not only the first; the exit code is 1 if any failed.
#
# Usage: check-pe.sh [--stripped] i386 EXE
#   --stripped  also require that the symbols have been stripped (the shipped file)
set -u

usage() { echo "usage: check-pe.sh [--stripped] i386 EXE" >&2; exit 2; }

stripped=0
if [ "${1:-}" = --stripped ]; then stripped=1; shift; fi
[ $# -eq 2 ] || usage
arch=$1
exe=$2

# The only DLLs the program may load: the system's own and the C runtime.
allowed_dlls="KERNEL32.DLL USER32.DLL GDI32.DLL COMDLG32.DLL SHELL32.DLL COMCTL32.DLL ADVAPI32.DLL MSVCRT.DLL"
# InitCommonControls is imported by this ordinal, never by name.
comctl32_ordinal=17
icon_names="MYICON1 MYICON2"    # resource names are stored upper-cased
# One 32 by 32 image in 16 colours with its mask: header 40 + palette 64 + colour
# bits 512 + mask 128 bytes. A group naming one image is 6 + 14 bytes.
icon_image_bytes=744
icon_group_bytes=20

here=$(cd "$(dirname "$0")" && pwd)
# KESTRAND_ALLOWED_IMPORTS names another list: the release tests' way to try a bad one.
allowed_imports=${KESTRAND_ALLOWED_IMPORTS:-$here/allowed-imports.txt}
# The first Windows that an allowed import may need: 2000 or earlier.
allowed_windows="NT3.1 NT3.5 NT3.51 NT4 2000"
# The systems the manifest declares: Vista, 7, 8, 8.1, and 10 and 11 (one id).
supported_os="{e2011457-1546-43c5-a5fe-008deee3d3f0} {35138b9a-5d96-4fbd-8e2d-a2440225f93a}
  {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {1f676c76-80e1-4239-95bb-83d0f6d0da78}
  {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"

case $arch in
  i386)   objdump=i686-w64-mingw32-objdump;   format=pei-i386;   magic=PE32 ;;
  *) usage ;;
esac

if [ ! -f "$exe" ]; then
  echo "check-pe: $exe does not exist: build it first (make build)" >&2
  exit 1
fi
if ! command -v "$objdump" >/dev/null; then
  echo "check-pe: $objdump is missing: run scripts/setup.sh" >&2
  exit 1
fi
# Debian's own python3, which python3-pefile is installed for (not another on the PATH).
python=/usr/bin/python3
if ! "$python" -c 'import pefile' 2>/dev/null; then
  echo "check-pe: python3-pefile is missing: run scripts/setup.sh" >&2
  exit 1
fi

failures=0
fail() { echo "check-pe: $exe: $*" >&2; failures=$((failures + 1)); }

if ! headers=$("$objdump" -p "$exe" 2>&1); then
  echo "check-pe: $exe: not a $magic file for $arch: $headers" >&2
  exit 1
fi

grep -q "file format $format\$" <<<"$headers" || fail "file format is not $format"
grep -E '^Magic' <<<"$headers" | grep -q -F "($magic)" || fail "optional header is not $magic"
grep -q -E '^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)' <<<"$headers" \
  || fail "subsystem is not Windows GUI: $(grep -E '^Subsystem' <<<"$headers")"

# Imports as "DLL<TAB>first column<TAB>member name" (name "<none>" when by ordinal).
imports=$(awk '
  /^The Import Tables/ { inside = 1; next }
  inside && /^(The |PE File)/ { inside = 0 }
  !inside { next }
  /DLL Name:/ { dll = toupper($3); next }
  /vma:/ { next }
  dll != "" && NF >= 3 && $1 ~ /^[0-9a-f]+$/ { print dll "\t" $1 "\t" $3 }
  /^[[:space:]]*$/ { dll = "" }
' <<<"$headers")
dlls=$(grep -E '^[[:space:]]*DLL Name:' <<<"$headers" | awk '{ print toupper($3) }' | sort -u)

[ -n "$dlls" ] || fail "no import table found"
for dll in $dlls; do
  case " $allowed_dlls " in
    *" $dll "*) ;;
    *) fail "imports $dll, which is not one of: $allowed_dlls" ;;
  esac
done

comctl32=$(awk -F'\t' '$1 == "COMCTL32.DLL"' <<<"$imports")
if [ -z "$comctl32" ]; then
  fail "does not import COMCTL32.dll (InitCommonControls by ordinal $comctl32_ordinal)"
fi
while IFS=$'\t' read -r _ first name; do
  [ -n "$first" ] || continue
  if [ "$name" != "<none>" ]; then
    fail "imports $name from COMCTL32.dll by name; only ordinal $comctl32_ordinal is expected"
  elif [ $((0x$first & 0xFFFF)) -ne "$comctl32_ordinal" ]; then
    fail "imports ordinal $((0x$first & 0xFFFF)) from COMCTL32.dll; only $comctl32_ordinal is expected"
  fi
done <<<"$comctl32"

# Every import, by name or by ordinal ("#17"), must be on the list.
list_errors=$(awk -v allowed=" $allowed_windows " '
  /^[[:space:]]*(#|$)/ { next }
  NF != 3 { print "line " NR " is not DLL, function, Windows: " $0; next }
  index(allowed, " " $3 " ") == 0 { print "line " NR ": " $2 " needs Windows " $3 ", later than 2000" }
' "$allowed_imports")
if [ -n "$list_errors" ]; then
  while IFS= read -r line; do fail "$(basename "$allowed_imports") $line"; done <<<"$list_errors"
fi
imported=$(while IFS=$'\t' read -r dll first name; do
  [ -n "$first" ] || continue
  [ "$name" = "<none>" ] && name="#$((0x$first & 0xFFFF))"
  printf '%s\t%s\n' "$dll" "$name"
done <<<"$imports")
not_allowed=$(awk '
  NR == FNR { if ($0 !~ /^[[:space:]]*(#|$)/) ok[toupper($1) "\t" $2] = 1; next }
  !($0 in ok)
' "$allowed_imports" - <<<"$imported")
if [ -n "$not_allowed" ]; then
  while IFS=$'\t' read -r dll name; do
    fail "imports $name from $dll, which is not in $(basename "$allowed_imports") (2000 or earlier)"
  done <<<"$not_allowed"
fi

grep -q -E '^Entry d 0+ 0+ Delay Import Directory' <<<"$headers" \
  || fail "has delay-loaded imports: $(grep -A3 'Delay Import' <<<"$headers" | head -n 4)"

# Resources as "type name size": the type and name levels of the resource tree are
# the entries indented by 3 and 5 blanks, the data leaves by 8.
resources=$(awk '
  /^The .rsrc Resource Directory section/ { inside = 1; next }
  inside && /^ String table/ { inside = 0 }
  !inside { next }
  {
    body = $0; sub(/^[0-9a-f]+/, "", body)
    match(body, /^ */); depth = RLENGTH; entry = substr(body, depth + 1)
    key = entry
    if (entry ~ /^Entry: ID: /) { sub(/^Entry: ID: /, "", key); sub(/,.*/, "", key) }
    else if (entry ~ /^Entry: name: /) { sub(/^[^]]*\]: /, "", key); sub(/, Value:.*/, "", key) }
    if (depth == 3) type = key
    else if (depth == 5) name = key
    else if (depth == 8 && entry ~ /^Leaf:/) {
      size = entry; sub(/.*Size: /, "", size); sub(/,.*/, "", size)
      print type, name, size
    }
  }
' <<<"$headers")

for icon in $icon_names; do
  size=$(awk -v n="$icon" '$1 == "0x00000e" && $2 == n { print $3 }' <<<"$resources")
  if [ -z "$size" ]; then
    fail "has no icon resource named $icon"
  elif [ $((size)) -ne "$icon_group_bytes" ]; then
    fail "icon $icon does not hold exactly one image (group of $((size)) bytes)"
  fi
done
while read -r type name size; do
  [ "$type" = 0x000003 ] || continue
  [ $((size)) -eq "$icon_image_bytes" ] \
    || fail "icon image $name has $((size)) bytes, not one 32x32 image in 16 colours ($icon_image_bytes)"
done <<<"$resources"

# The version resource and the manifest, read from the file with Debian's pefile.
if ! facts=$("$python" - "$exe" 2>&1 <<'PYTHON'
# One fact a line:
#   version file|product A.B.C.D, string KEY VALUE (the first string table),
#   manifest present|absent|error TEXT, manifest identity-version V,
#   manifest execution-level L, manifest dependency NAME, manifest dpi ELEMENT,
#   manifest trustinfo-namespaces N (inside the first trustInfo, its own included),
#   manifest supported-os GUID
import sys
import xml.parsers.expat

import pefile


def leaf(pe, kind, ident):
    """The data entry of resource kind/ident in its first language, or None."""
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in resources.entries if resources else []:
        if entry.id != kind:
            continue
        for named in entry.directory.entries:
            if named.id == ident and named.directory.entries:
                return named.directory.entries[0].data.struct
    return None


def print_version(pe):
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        print("version malformed")
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    if fixed.Signature != 0xFEEF04BD:
        print("version malformed")
        return
    for name, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        print("version %s %d.%d.%d.%d" % (name, ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if info.Key == b"StringFileInfo" and info.StringTable:
            # The first string table is the one Explorer shows here.
            for key, value in info.StringTable[0].entries.items():
                print("string %s %s" % (key.decode(), value.decode()))
            return


def print_manifest(text):
    facts = []
    stack = []          # local element names, outermost first
    pending = []        # namespace declarations made by the next element
    trust = {"depth": None, "namespaces": 0}

    def start_element(name, attributes):
        element = name.rsplit(" ", 1)[-1]
        stack.append(element)
        if element == "trustInfo" and trust["depth"] is None:
            trust["depth"] = len(stack)
        if trust["depth"] is not None:
            trust["namespaces"] += len(pending)
        pending.clear()
        if element == "assemblyIdentity" and len(stack) == 2:
            facts.append("identity-version %s" % attributes.get("version", ""))
        elif element == "assemblyIdentity" and "dependentAssembly" in stack:
            facts.append("dependency %s" % attributes.get("name", ""))
        elif element == "requestedExecutionLevel":
            facts.append("execution-level %s" % attributes.get("level", ""))
        elif element == "supportedOS":
            facts.append("supported-os %s" % attributes.get("Id", ""))
        elif element in ("dpiAware", "dpiAwareness"):
            facts.append("dpi %s" % element)

    def end_element(name):
        if trust["depth"] == len(stack):
            facts.append("trustinfo-namespaces %d" % trust["namespaces"])
            trust["depth"] = -1  # only the first trustInfo counts
        stack.pop()

    parser = xml.parsers.expat.ParserCreate(namespace_separator=" ")
    parser.StartNamespaceDeclHandler = lambda prefix, uri: pending.append(uri)
    parser.StartElementHandler = start_element
    parser.EndElementHandler = end_element
    print("manifest present")
    try:
        parser.Parse(text, True)
    except xml.parsers.expat.ExpatError as error:
        print("manifest error %s" % error)
        return
    for fact in facts:
        print("manifest " + fact)


try:
    pe = pefile.PE(sys.argv[1], fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if leaf(pe, pefile.RESOURCE_TYPE["RT_VERSION"], 1) is not None:
        print_version(pe)
    manifest = leaf(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], 1)
    if manifest is None:
        print("manifest absent")
    else:
        print_manifest(pe.get_data(manifest.OffsetToData, manifest.Size))
except pefile.PEFormatError as error:
    sys.exit("%s: %s" % (sys.argv[1], error))
PYTHON
); then
  fail "its resources cannot be read: $facts"
  facts=""
fi
fact() { awk -v key="$1" 'index($0, key " ") == 1 { print substr($0, length(key) + 2) }' <<<"$facts"; }

version=$("$here/project-version.sh") || exit 1
version4=$version
while [ "$(tr -cd . <<<"$version4" | wc -c)" -lt 3 ]; do version4=$version4.0; done
if [ -z "$(fact version)" ]; then
  fail "has no version resource (VERSIONINFO, id 1)"
else
  for kind in file product; do
    found=$(fact "version $kind")
    [ "$found" = "$version4" ] \
      || fail "version resource: $kind version ${found:-missing} is not the project's $version4 (CMakeLists.txt)"
  done
  for pair in "FileVersion=$version" "ProductVersion=$version" "ProductName=Kestrand" \
              "OriginalFilename=Kestrand.exe"; do
    key=${pair%%=*} expected=${pair#*=}
    found=$(fact "string $key")
    [ "$found" = "$expected" ] \
      || fail "version resource: $key is \"$found\", not \"$expected\""
  done
  [ -n "$(fact "string FileDescription")" ] || fail "version resource: FileDescription is empty"
fi

# The manifest: asInvoker, so that Vista and later refuse a write into a protected
# folder instead of redirecting it unseen; no dependent assembly (common controls 6
# would change the window's look); no DPI awareness (Windows scales the fixed layout);
# trustInfo with exactly one namespace declaration, as XP needs.
manifest=$(fact manifest)
if ! grep -q -x present <<<"$manifest"; then
  fail "has no manifest (resource type 24, id 1)"
elif grep -q '^error ' <<<"$manifest"; then
  fail "manifest is not well-formed XML: $(sed -n 's/^error //p' <<<"$manifest")"
else
  levels=$(sed -n 's/^execution-level //p' <<<"$manifest" | paste -s -d ' ')
  [ "$levels" = asInvoker ] \
    || fail "manifest does not request asInvoker alone (requested: ${levels:-nothing})"
  while read -r dependency; do
    [ -n "$dependency" ] && fail "manifest depends on the assembly $dependency"
  done < <(sed -n 's/^dependency //p' <<<"$manifest")
  while read -r element; do
    [ -n "$element" ] && fail "manifest declares DPI awareness ($element)"
  done < <(sed -n 's/^dpi //p' <<<"$manifest")
  namespaces=$(sed -n 's/^trustinfo-namespaces //p' <<<"$manifest")
  [ "$namespaces" = 1 ] \
    || fail "manifest: trustInfo declares ${namespaces:-no} namespace(s), not exactly one"
  for id in $supported_os; do
    grep -q -x -F "supported-os $id" <<<"$manifest" || fail "manifest does not declare supportedOS $id"
  done
  identity=$(sed -n 's/^identity-version //p' <<<"$manifest")
  [ "$identity" = "$version4" ] \
    || fail "manifest: assemblyIdentity version ${identity:-missing} is not the project's $version4"
fi

if [ "$stripped" -eq 1 ]; then
  "$objdump" -f "$exe" | grep -q 'HAS_SYMS' && fail "still holds its symbols (not stripped)"
  "$objdump" -h "$exe" | grep -q -E '[[:space:]]\.debug' && fail "still holds debug sections"
fi

bytes=$(stat -c %s "$exe")
if [ "$failures" -ne 0 ]; then
  echo "check-pe: $exe: $failures check(s) failed" >&2
  exit 1
fi
echo "check-pe: $exe: $magic for $arch, Windows GUI, imports $(echo $dlls | tr ' ' ',')" \
  "($(wc -l <<<"$imported") functions, all in allowed-imports.txt), icons $(echo $icon_names | tr ' ' ','),"\
  "version $version, manifest asInvoker: $bytes bytes"
