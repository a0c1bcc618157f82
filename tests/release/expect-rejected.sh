#!/usr/bin/env bash
# Runs the PE check on a file that must fail it and requires every given reason to
# appear in its report: a check that passes, or fails for another reason, is a fault.
# Usage: expect-rejected.sh ARCH EXE REASON...
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
arch=$1 exe=$2
shift 2
report=$("$root/scripts/check-pe.sh" "$arch" "$exe" 2>&1)
status=$?
echo "$report"
if [ "$status" -eq 0 ]; then
  echo "expect-rejected: the check accepted $exe" >&2
  exit 1
fi
missing=0
for reason in "$@"; do
  if ! grep -q -F -- "$reason" <<<"$report"; then
    echo "expect-rejected: the report does not say: $reason" >&2
    missing=1
  fi
done
exit "$missing"
