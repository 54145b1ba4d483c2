#!/bin/bash
# examples/pos_sale against fiscal-sim reached by a COM name in a private alias folder.
set -u
sim=$1
pos_sale=$2
dir=$(mktemp -d)
export FISCAL_COM_DIR=$dir
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$dir"' EXIT

coproc SIM { exec "$sim" --com COM7; }
sim_pid=$SIM_PID
# fiscal-sim prints one line once it serves.
if ! read -r -t 10 ready <&"${SIM[0]}"; then
  echo "fiscal-sim did not start"
  exit 1
fi
echo "$ready"

out=$(timeout 60 "$pos_sale" COM7)
rc=$?
echo "$out"
# open, two items, subtotal, total, close and the daily report, each answered without refusal
steps=$(grep -c ' 0 SUCCESS (status 000000000000)' <<<"$out")
if [ "$rc" -ne 0 ] || [ "$steps" -ne 7 ] || ! grep -q '^Disconnect .* 0 SUCCESS' <<<"$out"; then
  echo "pos_sale failed: exit $rc, $steps steps succeeded"
  exit 1
fi
echo "pos_sale: every step SUCCESS"
