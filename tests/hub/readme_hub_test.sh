#!/bin/bash
# The README's curl walk-through of fiscal-hub, run as it stands: the shell block after its
# marker, in a scratch folder whose build/default is this build.
#   readme_hub_test.sh README.md BUILD_DIR
set -u
readme=$1
build=$2
. "$(dirname "$0")/../common/readme_block.sh"
readme_block "$readme" readme_hub_test.sh "$build"
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
