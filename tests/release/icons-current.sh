#!/usr/bin/env bash
# The committed icons must be exactly what the generator draws, and each must be one
# 32 by 32 image in 16 colours: a picture changed by hand, or a generator changed
# without rerunning it, fails here.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
python3 "$root/res/make_icons.py" "$out" || { echo "icons: the generator failed" >&2; exit 1; }
status=0
for icon in MyIcon1 MyIcon2; do
  if ! cmp -s "$out/$icon.ico" "$root/res/$icon.ico"; then
    echo "icons: res/$icon.ico differs from what res/make_icons.py draws: run it and commit" >&2
    status=1
  fi
  python3 - "$root/res/$icon.ico" <<'PY' || status=1
import struct, sys
path = sys.argv[1]
data = open(path, "rb").read()
reserved, kind, count = struct.unpack_from("<HHH", data, 0)
width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6)
header_size, bmp_width, bmp_height, _, bmp_bits = struct.unpack_from("<IiiHH", data, offset)
facts = {
    "an icon file": (reserved, kind) == (0, 1),
    "one image": count == 1,
    "32 by 32": (width, height, bmp_width, bmp_height) == (32, 32, 32, 64),
    "16 colours": colours == 16 and bits == 4 and bmp_bits == 4,
    "whole": offset + size == len(data) and header_size == 40,
}
bad = [name for name, ok in facts.items() if not ok]
if bad:
    print("icons: %s is not %s" % (path, ", ".join(bad)), file=sys.stderr)
    sys.exit(1)
PY
done
[ "$status" -eq 0 ] && echo "icons: MyIcon1 and MyIcon2 are current, 32x32 in 16 colours"
exit "$status"
