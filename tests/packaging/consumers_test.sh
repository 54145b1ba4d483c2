#!/bin/bash
# The installed tree as an integrator gets it: installed into a staging root, the two examples
# built against it with pkg-config and with find_package, and each build run against fiscal-sim.
#   consumers_test.sh BUILD_DIR EXAMPLES_DIR CONSUMER_DIR FISCAL_SIM C_COMPILER
# CFLAGS and LDFLAGS are the build's own (a sanitizer build's libraries need its runtime first);
# CMake takes them from the environment as well.
set -u
build=$1
examples=$2
consumer=$3
sim=$4
cc=$5
work=$(mktemp -d)
sim_pid=""
trap '[ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# DESTDIR keeps every absolute place (the udev rule under /etc) inside the staging root too.
stage=$work/stage
prefix=/opt/fiscal
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || {
  cat "$work/install.log"
  fail "cmake --install"
}
root=$stage$prefix
[ -f "$stage/etc/udev/rules.d/60-vrn-fiscal.rules" ] || fail "the udev rule is not in the staging root"
pcdir=$(dirname "$(find "$root" -name vrn_interface.pc | head -n1)")
[ -f "$pcdir/tallyport.pc" ] || fail "no .pc files under $root"
libdir=$(dirname "$pcdir")

# pkg-config: the .pc files find the tree relative to where they lie.
export PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir
for lib in vrn_interface tallyport; do
  [ "$(pkg-config --modversion $lib)" = "${FISCAL_VERSION:?}" ] || fail "pkg-config --modversion $lib"
  flags=$(pkg-config --cflags --libs $lib)
  # The paths are the staging tree's, not the configured prefix's.
  grep -q -- "-L$libdir\|-L$pcdir/../\.\." <<<"$flags" || fail "pkg-config $lib gives $flags"
done
mkdir -p "$work/pc"
# shellcheck disable=SC2046
"$cc" ${CFLAGS:-} ${LDFLAGS:-} -std=c99 -Wall -Werror -o "$work/pc/pos_sale" "$examples/pos_sale.c" $(pkg-config --cflags --libs tallyport) ||
  fail "pos_sale with pkg-config"
# shellcheck disable=SC2046
"$cc" ${CFLAGS:-} ${LDFLAGS:-} -std=c99 -Wall -Werror -o "$work/pc/vrn_request" "$examples/vrn_request.c" $(pkg-config --cflags --libs vrn_interface) ||
  fail "vrn_request with pkg-config"

# find_package, versioned: the tree's version is taken, a later minor version refused.
cmake -S "$consumer" -B "$work/cm" -G Ninja -DCMAKE_PREFIX_PATH="$root" -DEXAMPLES_DIR="$examples" \
  -DCMAKE_C_COMPILER="$cc" >"$work/cm.log" 2>&1 || {
  cat "$work/cm.log"
  fail "find_package consumer configure"
}
cmake --build "$work/cm" >"$work/cm-build.log" 2>&1 || {
  cat "$work/cm-build.log"
  fail "find_package consumer build"
}
mkdir -p "$work/newer"
cat >"$work/newer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(newer LANGUAGES NONE)
find_package(tallyport ${FISCAL_VERSION%.*}.99 QUIET)
if(tallyport_FOUND)
  message(FATAL_ERROR "a later version was taken")
endif()
CMAKE
cmake -S "$work/newer" -B "$work/newer/b" -DCMAKE_PREFIX_PATH="$root" >"$work/newer.log" 2>&1 || {
  cat "$work/newer.log"
  fail "find_package took a version the tree is not"
}

# Each program runs with the staged libraries, against the simulator on a private COM7.
export LD_LIBRARY_PATH=$libdir
export FISCAL_COM_DIR=$work/com
mkdir -p "$FISCAL_COM_DIR"
coproc SIM { exec "$sim" --com COM7; }
sim_pid=$SIM_PID
read -r -t 10 ready <&"${SIM[0]}" || fail "fiscal-sim did not start"
echo "$ready"
for flavour in pc cm; do
  for program in pos_sale vrn_request; do
    ldd "$work/$flavour/$program" | grep -q "$libdir/" || fail "$flavour/$program does not load the staged library"
  done
  out=$(timeout 60 "$work/$flavour/pos_sale" COM7) || fail "$flavour/pos_sale: exit $?: $out"
  [ "$(grep -c ' 0 SUCCESS (status 000000000000)' <<<"$out")" -eq 7 ] || fail "$flavour/pos_sale: $out"
  out=$(timeout 30 "$work/$flavour/vrn_request" COM7 62) || fail "$flavour/vrn_request: exit $?: $out"
  grep -q "^reply '.\+' status" <<<"$out" || fail "$flavour/vrn_request: $out"
  echo "$flavour: pos_sale and vrn_request served"
done
