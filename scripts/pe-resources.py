#!/usr/bin/env python3
"""Reads the version resource and the application manifest of a PE file and prints
what check-pe.sh judges, one fact a line:

  version file|product A.B.C.D      the fixed version numbers
  string KEY VALUE                  the texts of the first string table
  manifest present|absent
  manifest error TEXT               the manifest is no well-formed XML
  manifest identity-version V       assemblyIdentity's version
  manifest execution-level LEVEL    requestedExecutionLevel's level (one line each)
  manifest dependency NAME          every dependentAssembly's assemblyIdentity name
  manifest dpi ELEMENT VALUE        dpiAware or dpiAwareness, wherever they stand
  manifest trustinfo-namespaces N   namespace declarations inside trustInfo (itself included)
  manifest supported-os GUID

Usage: pe-resources.py EXE
"""
import struct
import sys
import xml.parsers.expat

RT_VERSION = 16
RT_MANIFEST = 24


class NotPE(Exception):
    pass


def sections_and_resources(data):
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise NotPE("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise NotPE("no PE signature")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    table = optional + optional_size
    for i in range(count):
        vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        sections.append((rva, max(vsize, raw_size), raw))
    return sections, resource_rva, resource_size


def file_offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise NotPE("address %#x lies in no section" % rva)


def find_resource(data, sections, root, kind, ident):
    """The bytes of resource kind/ident in its first language, or None."""
    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield name, target

    def child(directory, wanted):
        for name, target in entries(directory):
            if not name & 0x80000000 and name == wanted:
                return target
        return None

    level = child(root, kind)
    if level is None or not level & 0x80000000:
        return None
    level = child(root + (level & 0x7FFFFFFF), ident)
    if level is None or not level & 0x80000000:
        return None
    languages = list(entries(root + (level & 0x7FFFFFFF)))
    if not languages or languages[0][1] & 0x80000000:
        return None
    leaf = root + languages[0][1]
    rva, size = struct.unpack_from("<II", data, leaf)
    start = file_offset(sections, rva)
    return data[start:start + size]


def align4(n):
    return (n + 3) & ~3


def version_blocks(data, start, end):
    """The blocks of a version resource between start and end: (key, value, children)."""
    while start + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, start)
        if length == 0:
            break
        key_end = start + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[start + 6:key_end].decode("utf-16-le")
        value_start = align4(key_end + 2)
        value_bytes = value_length * 2 if kind == 1 else value_length
        value = data[value_start:value_start + value_bytes]
        children = (align4(value_start + value_bytes), start + length)
        yield key, kind, value, children
        start = align4(start + length)


def print_version(data):
    blocks = list(version_blocks(data, 0, len(data)))
    if not blocks or blocks[0][0] != "VS_VERSION_INFO" or len(blocks[0][2]) < 52:
        print("version malformed")
        return
    _, _, fixed, children = blocks[0]
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        print("version malformed")
        return
    for name, ms, ls in (("file", file_ms, file_ls), ("product", product_ms, product_ls)):
        print("version %s %d.%d.%d.%d" % (name, ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
    for info, _, _, tables in version_blocks(data, *children):
        if info != "StringFileInfo":
            continue
        for _, _, _, strings in version_blocks(data, *tables):
            for name, _, text, _ in version_blocks(data, *strings):
                print("string %s %s" % (name, text.decode("utf-16-le").rstrip("\0")))
            return  # the first string table is the one Explorer shows here


def print_manifest(text):
    print("manifest present")
    facts = []
    stack = []          # local element names, outermost first
    pending = []        # namespace declarations seen before the next element starts
    trust_namespaces = [0]
    trust_depth = [None]

    def local(name):
        return name.rsplit(" ", 1)[-1]

    def start_namespace(prefix, uri):
        pending.append(uri)

    def start_element(name, attributes):
        element = local(name)
        stack.append(element)
        if element == "trustInfo" and trust_depth[0] is None:
            trust_depth[0] = len(stack)
        if trust_depth[0] is not None:
            trust_namespaces[0] += len(pending)
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
        if trust_depth[0] == len(stack):
            facts.append("trustinfo-namespaces %d" % trust_namespaces[0])
            trust_depth[0] = -1  # only the first trustInfo is counted
        stack.pop()

    parser = xml.parsers.expat.ParserCreate(namespace_separator=" ")
    parser.StartNamespaceDeclHandler = start_namespace
    parser.StartElementHandler = start_element
    parser.EndElementHandler = end_element
    try:
        parser.Parse(text, True)
    except xml.parsers.expat.ExpatError as error:
        print("manifest error %s" % error)
        return
    for fact in facts:
        print("manifest " + fact)


def main():
    if len(sys.argv) != 2:
        print("usage: pe-resources.py EXE", file=sys.stderr)
        return 2
    data = open(sys.argv[1], "rb").read()
    try:
        sections, resource_rva, resource_size = sections_and_resources(data)
        if not resource_rva or not resource_size:
            print("manifest absent")
            return 0
        root = file_offset(sections, resource_rva)
        version = find_resource(data, sections, root, RT_VERSION, 1)
        if version is not None:
            print_version(version)
        manifest = find_resource(data, sections, root, RT_MANIFEST, 1)
        if manifest is None:
            print("manifest absent")
        else:
            print_manifest(manifest)
    except (NotPE, struct.error) as error:
        print("pe-resources: %s: %s" % (sys.argv[1], error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
