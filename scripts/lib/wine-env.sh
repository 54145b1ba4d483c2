# The wine prefix as the Windows builds run in it, for scripts/test-windows and
# scripts/run-windows alike: sourced by both, so that a program started by hand meets exactly
# what the tests meet. Run from the top of the tree, under `set -euo pipefail`.
#
#   wine_env_init              the prefix, wine's settings and the loaders; takes the prefix's lock
#   wine_env_display own|any   a virtual display (Xvfb): always (own), or only without a display
#   wine_env_prepare           the prefix made, its COM ports mapped, a wine server kept running
#   wine_env_link_pair PROGRAM fiscal-pty-pair started and linked in as COM5 (host) and COM6
#   wine_env_check_links       the two links still lead where wine_env_link_pair put them
#   wine_env_loader EXE        the wine loader for EXE's machine (64- or 32-bit), or a refusal
#   wine_env_cleanup           ends what the above started (installed as the EXIT trap)
#
# Messages begin with "$wine_env_name: " (the calling script's name). Failures end the script.

wine_env_name=${wine_env_name:-wine-env}
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wine_env_xvfb_pid=""
wine_env_pair_pid=""
wine_env_pair_out=""
wine_env_host_pty=""
wine_env_sim_pty=""
wine_env_server_started=0
wine_env_extra_cleanup=""

wine_env_fail() {
  echo "$wine_env_name: $*" >&2
  exit 1
}

wine_env_init() {
  export WINEPREFIX=${FISCAL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/fiscal-suite/wine}
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
  trap wine_env_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # Preparing a prefix restarts its wine server, which would pull the ports from under another
  # run in the same prefix: one run at a time.
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec {wine_env_lock}>"${WINEPREFIX%/}.lock"
  if ! flock -n "$wine_env_lock"; then
    wine_env_fail "the wine prefix $WINEPREFIX is in use by another run (scripts/test windows or" \
      "scripts/run-windows); wait for it, or set FISCAL_WINEPREFIX to another prefix"
  fi
}

wine_env_cleanup() {
  # The wine server holds the ports open: it goes first, then the pair closes its masters.
  if [ "$wine_env_server_started" = 1 ]; then
    wineserver -k 2>/dev/null || true
  fi
  # The pair's pseudo-terminals go with it, and their numbers pass on to others (a terminal):
  # its names lead nowhere again, as wine itself would set them.
  if [ -n "$wine_env_host_pty" ]; then
    ln -sfn /nonexistent/fiscal-suite-com5 "$WINEPREFIX/dosdevices/com5" 2>/dev/null || true
    ln -sfn /nonexistent/fiscal-suite-com6 "$WINEPREFIX/dosdevices/com6" 2>/dev/null || true
  fi
  if [ -n "$wine_env_extra_cleanup" ]; then
    "$wine_env_extra_cleanup" || true
  fi
  if [ -n "$wine_env_pair_pid" ]; then
    kill "$wine_env_pair_pid" 2>/dev/null || true
    wait "$wine_env_pair_pid" 2>/dev/null || true
  fi
  [ -n "$wine_env_pair_out" ] && rm -f "$wine_env_pair_out"
  if [ -n "$wine_env_xvfb_pid" ]; then
    kill "$wine_env_xvfb_pid" 2>/dev/null || true
    wait "$wine_env_xvfb_pid" 2>/dev/null || true
  fi
}

# The display comes before any wine program, so that wine's own processes, which start with the
# first program, know it too. Xvfb picks a free display number and writes it once it takes
# connections.
wine_env_display() {
  if [ "$1" = any ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    return 0
  fi
  coproc WINE_ENV_XVFB { exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null; }
  wine_env_xvfb_pid=$WINE_ENV_XVFB_PID
  local display_number=""
  read -r -t 20 -u "${WINE_ENV_XVFB[0]}" display_number || true
  [ -n "$display_number" ] || wine_env_fail "Xvfb did not report its display"
  export DISPLAY=":$display_number"
}

wine_env_prepare() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "$wine_env_name: creating the wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wine64" wineboot --init >/dev/null 2>&1 || true
    wineserver -w
  fi
  # The tool's Connect scan tries COM1..COM20. Wine gives the machine's own serial ports (and so
  # possibly its console) the first COM names that the prefix leaves free: every one of them is
  # pointed at a path that does not exist, which wine opens as a port that takes no settings.
  # COM5 and COM6 too, so that wine's device manager, should it start again, sends them nowhere
  # rather than to /dev/ttyS0; the pair's links replace them below. The device manager reads
  # these names when it starts, so the server starts afresh after they are written.
  local ports_reg
  ports_reg=$(mktemp --suffix=.reg)
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in $(seq 1 20); do
      printf '"COM%d"="/nonexistent/fiscal-suite-com%d"\r\n' "$n" "$n"
    done
  } >"$ports_reg"
  "$wine64" regedit /S "Z:${ports_reg//\//\\}" >/dev/null 2>&1 </dev/null || true
  rm -f "$ports_reg"
  wineserver -k 2>/dev/null || true
  wineserver -w
  # Kept running until the end: a fresh server for every program costs seconds.
  wineserver -p
  wine_env_server_started=1
  # The first program of a server starts wine's background services, which inherit its output
  # pipes and hold them open: started here with no pipes, a program's output ends when it does.
  "$wine64" wineboot >/dev/null 2>&1 </dev/null || true
  # Windows drawn by wine itself: without a window manager, wine waits two seconds for one at
  # every dialog that closes when it leaves the windows to it.
  "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
}

# Only once the server and its device manager are up: a link made before is rewritten by wine.
wine_env_link_pair() {
  local pair_program=$1
  wine_env_pair_out=$(mktemp)
  "$pair_program" >"$wine_env_pair_out" &
  wine_env_pair_pid=$!
  for _ in $(seq 100); do
    [ -s "$wine_env_pair_out" ] && break
    kill -0 "$wine_env_pair_pid" 2>/dev/null || break
    sleep 0.1
  done
  read -r wine_env_host_pty wine_env_sim_pty <"$wine_env_pair_out" || true
  if [ -z "$wine_env_host_pty" ] || [ -z "$wine_env_sim_pty" ]; then
    wine_env_fail "fiscal-pty-pair did not report its two ports"
  fi
  ln -sfn "$wine_env_host_pty" "$WINEPREFIX/dosdevices/com5"
  ln -sfn "$wine_env_sim_pty" "$WINEPREFIX/dosdevices/com6"
  wine_env_check_links
}

# A COM name that wine pointed elsewhere may be a real serial port of the machine: nothing runs
# unless both lead to the pair.
wine_env_check_links() {
  local name target expected
  for name in com5 com6; do
    expected=$wine_env_host_pty
    [ "$name" = com6 ] && expected=$wine_env_sim_pty
    target=$(readlink "$WINEPREFIX/dosdevices/$name" || true)
    if [ "$target" != "$expected" ]; then
      wine_env_fail "$WINEPREFIX/dosdevices/$name leads to '${target:-nothing}', not to $expected;" \
        "refusing to go on, as it may be a real serial port"
    fi
  done
}

# Prints the loader for the program's machine, or says why it cannot run here.
wine_env_loader() {
  local exe=$1 offset machine
  [ "$(head -c 2 "$exe" 2>/dev/null)" = MZ ] || wine_env_fail "$exe is not a Windows program"
  offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
  [ "$(od -An -c -j"$offset" -N2 "$exe" | tr -d ' ')" = PE ] || wine_env_fail "$exe is not a Windows program"
  machine=$(od -An -tx1 -j$((offset + 4)) -N2 "$exe" | tr -d ' ')
  case "$machine" in
    6486) echo "$wine64" ;;  # x86-64, little-endian 0x8664
    4c01)
      # Wine's 32-bit loader is a 32-bit Linux program.
      if ! "$wine32" --version >/dev/null 2>&1; then
        wine_env_fail "$exe is a 32-bit Windows program, and this machine cannot run it: its kernel" \
          "runs no 32-bit Linux programs, which wine's 32-bit loader is; use the 64-bit build"
      fi
      echo "$wine32"
      ;;
    *) wine_env_fail "$exe is for a machine wine cannot run here (PE machine 0x${machine:2:2}${machine:0:2})" ;;
  esac
}
