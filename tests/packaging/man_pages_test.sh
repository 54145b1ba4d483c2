#!/bin/bash
# Each man page renders without a warning of man or groff.
#   man_pages_test.sh MAN_DIR
set -u
if ! command -v man >/dev/null 2>&1; then
  echo "man is not installed"
  exit 77
fi
failed=0
count=0
for page in "$1"/*.1; do
  count=$((count + 1))
  out=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ $? -ne 0 ] || [ -n "$out" ]; then
    echo "FAIL: $(basename "$page"): $out"
    failed=1
  fi
done
[ $count -gt 0 ] || { echo "FAIL: no man pages in $1"; exit 1; }
echo "$count man pages render without warnings"
exit $failed
