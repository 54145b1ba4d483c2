#!/bin/bash
# The README's walk-through of testing a point-of-sale program against fiscal-sim, run as it
# stands: the shell block after its marker, in a scratch folder whose build/default is this build.
#   readme_pos_test.sh README.md BUILD_DIR
set -u
readme=$1
build=$2
dir=$(mktemp -d)
# A block that failed half-way may leave its simulator running: whatever still works in the
# scratch folder is ended.
stop_leftovers() {
  local p
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/cwd" 2>/dev/null)" = "$dir" ]; then kill "${p#/proc/}" 2>/dev/null; fi
  done
}
trap 'cd /; stop_leftovers; rm -rf "$dir"' EXIT
export FISCAL_COM_DIR=$dir/com
mkdir -m 700 "$FISCAL_COM_DIR"

block=$(awk '/readme_pos_test.sh runs the next block/ {marked = 1; next}
             marked && /^```sh$/ {inside = 1; next}
             inside && /^```$/ {exit}
             inside {print}' "$readme")
if [ -z "$block" ]; then
  echo "no marked shell block in $readme"
  exit 1
fi
mkdir -p "$dir/build"
ln -s "$build" "$dir/build/default"

cd "$dir" || exit 1
if ! timeout 120 bash -e -c "$block"; then
  echo "the README's block failed:"
  echo "$block"
  cat sim.out 2>/dev/null
  exit 1
fi

failed=0
check() {
  if ! grep -q -- "$2" "$1"; then
    echo "$1 lacks: $2"
    failed=1
  fi
}
# The second run continued the first: the device remembered its numbers.
check roll.html 'RECEIPT 2   FISCAL RECEIPT 2'
check roll.html 'Z REPORT 0002'
check shop.json '"format": *"fiscal-sim-state"'
check shop.json '"zReports": *2'
# The first payment was held back by busy bytes, and the journal saw both directions.
check wire.jsonl '"control":"busy"'
check wire.jsonl '"dir":"in"'
check wire.jsonl '"dir":"out"'
[ "$failed" -eq 0 ] && echo "README walk-through: ok"
exit "$failed"
