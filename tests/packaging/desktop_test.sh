#!/bin/bash
# The desktop file and the AppStream metainfo pass their validators, where these are installed.
#   desktop_test.sh DESKTOP_FILE METAINFO_FILE
set -u
ran=0
failed=0
if command -v desktop-file-validate >/dev/null 2>&1; then
  ran=1
  # It exits 0 on hints and warnings too: any output is a finding.
  out=$(desktop-file-validate "$1" 2>&1)
  if [ $? -ne 0 ] || [ -n "$out" ]; then
    echo "FAIL: desktop-file-validate: $out"
    failed=1
  fi
fi
if command -v appstreamcli >/dev/null 2>&1; then
  ran=1
  if ! appstreamcli validate --no-net --pedantic "$2"; then
    echo "FAIL: appstreamcli validate"
    failed=1
  fi
  # The metainfo names the desktop file it goes with.
  grep -q "<launchable type=\"desktop-id\">$(basename "$1")</launchable>" "$2" || {
    echo "FAIL: the metainfo does not launch $(basename "$1")"
    failed=1
  }
fi
if [ $ran -eq 0 ]; then
  echo "neither desktop-file-validate nor appstreamcli is installed"
  exit 77
fi
exit $failed
