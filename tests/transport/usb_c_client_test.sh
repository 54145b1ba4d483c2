#!/usr/bin/env bash
# The plain C client, linked to the shared library, against fiscal-usb-sim in another process.
#   usb_c_client_test.sh <fiscal-usb-sim> <usb_c_client>
set -euo pipefail
sim=$1
client=$2
out=$(mktemp)
trap 'exec 3>&-; wait "$pid" 2>/dev/null || true; rm -f "$out"' EXIT
# The simulator serves until its input closes: fd 3 keeps it open.
exec 3> >("$sim" > "$out")
pid=$!
for _ in $(seq 100); do
  grep -q '^UMOCKDEV_DIR=' "$out" && break
  sleep 0.1
done
dir=$(sed -n 's/^UMOCKDEV_DIR=//p' "$out")
[ -n "$dir" ] || { echo "fiscal-usb-sim did not start"; exit 1; }
# The preload library comes before a sanitizer runtime, which would refuse it otherwise.
line=$(UMOCKDEV_DIR="$dir" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" umockdev-wrapper "$client")
echo "$line"
[ "$line" = "connected 1 result 0 reply '284011234567890' status 80 80 80 80 80 80" ]
