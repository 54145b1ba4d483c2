#!/bin/bash
# The README's walk-through of testing a point-of-sale program against fiscal-sim, run as it
# stands: the shell block after its marker, in a scratch folder whose build/default is this build.
#   readme_pos_test.sh README.md BUILD_DIR
set -u
readme=$1
build=$2
. "$(dirname "$0")/../common/readme_block.sh"
readme_block "$readme" readme_pos_test.sh "$build"
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
