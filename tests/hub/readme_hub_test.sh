#!/bin/bash
# The README's curl walk-through of fiscal-hub, run as it stands: the shell block after its
# marker, in a scratch folder whose build/default is this build.
#   readme_hub_test.sh README.md BUILD_DIR
set -u
readme=$1
build=$2
dir=$(mktemp -d)
# A block that failed half-way may leave its programs running: whatever still works in the
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

block=$(awk '/readme_hub_test.sh runs the next block/ {marked = 1; next}
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
if ! timeout 120 bash -e -c "$block" >answers.txt; then
  echo "the README's block failed:"
  echo "$block"
  cat answers.txt sim.out hub.out 2>/dev/null
  exit 1
fi

failed=0
check() {
  local count
  count=$(grep -c -- "$2" "$1")
  if [ "$count" -ne "$3" ]; then
    echo "$1 holds '$2' $count times, not $3"
    failed=1
  fi
}
check answers.txt '"serial": "SV000001"' 1
# The receipt three times (printed, answered again, looked up), then the day's report.
check answers.txt '"key": "sale-0001"' 3
check answers.txt '"state": "registered"' 4
check answers.txt '"change": 5.1' 3
check answers.txt '"kind": "report"' 1
# The device opened one receipt: the second request printed nothing.
check wire.jsonl '"dir":"in".*"cmd":48,' 1
if [ "$failed" -ne 0 ]; then
  cat answers.txt
  exit 1
fi
echo "README walk-through of fiscal-hub: ok"
