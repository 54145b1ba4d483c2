#!/bin/bash
# The Debian packages as CI makes them (cpack -G DEB): each holds what it says, in the places
# Debian looks, with the dependencies dpkg-shlibdeps found and those on the suite's own
# packages; together they install (as apt would resolve them) and their -dev files build a caller.
#   deb_test.sh BUILD_DIR MAN_DIR VERSION C_COMPILER
set -u
build=$1
man_dir=$2
version=$3
cc=$4
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "$tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
}
arch=$(dpkg --print-architecture)
declare -A expect=(
  [tillwright]="usr/bin/tillwright usr/share/applications/tillwright.desktop
    usr/share/icons/hicolor/64x64/apps/tillwright.png usr/share/metainfo/org.example.fiscalsuite.tillwright.metainfo.xml
    usr/share/man/man1/tillwright.1"
  [libvrn-interface1]="usr/lib/libvrn_interface.so.1 usr/lib/udev/rules.d/60-vrn-fiscal.rules"
  [libtallyport1]="usr/lib/libtallyport.so.1"
  [fiscal-suite-dev]="usr/include/vrn_interface.h usr/include/tallyport.h usr/lib/libvrn_interface.so
    usr/lib/libtallyport.so usr/lib/pkgconfig/vrn_interface.pc usr/lib/pkgconfig/tallyport.pc
    usr/lib/cmake/vrn_interface/vrn_interfaceConfig.cmake usr/lib/cmake/vrn_interface/vrn_interfaceConfigVersion.cmake
    usr/lib/cmake/tallyport/tallyportConfig.cmake usr/lib/cmake/tallyport/tallyportConfigVersion.cmake"
  [fiscal-sim]="usr/bin/fiscal-sim usr/bin/fiscal-probe usr/bin/fiscal-pty-pair usr/share/man/man1/fiscal-sim.1
    usr/share/man/man1/fiscal-probe.1 usr/share/man/man1/fiscal-pty-pair.1"
)
# fiscal-hub is packaged where the build has it: CPack's list of components says so.
components=$(sed -n 's/^set(CPACK_COMPONENTS_ALL "\(.*\)")$/\1/p' "$build/CPackConfig.cmake" | tr ';' ' ')
if grep -qw hub <<<"$components"; then
  expect[fiscal-hub]="usr/bin/fiscal-hub usr/libexec/fiscal-hub/fiscal-hub-worker
    usr/lib/systemd/system/fiscal-hub.service usr/lib/sysusers.d/fiscal-hub.conf usr/share/man/man1/fiscal-hub.1"
fi
# Dependencies on the suite's own packages, at this very version.
declare -A own=(
  [tillwright]="libvrn-interface1"
  [fiscal-suite-dev]="libvrn-interface1 libtallyport1"
)
root=$work/root
mkdir -p "$root"
for package in "${!expect[@]}"; do
  deb=$work/out/${package}_${version}_${arch}.deb
  if [ ! -f "$deb" ]; then
    fail "no $(basename "$deb")"
    continue
  fi
  dpkg-deb --info "$deb" >/dev/null || fail "$package: dpkg-deb --info"
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$package: Package field"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package: Version field"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$package: Architecture field"
  depends=$(dpkg-deb -f "$deb" Depends)
  for dep in ${own[$package]:-}; do
    grep -q "\b$dep (= $version)" <<<"$depends" || fail "$package does not depend on $dep (= $version): $depends"
  done
  # The files of every package go into one root, as dpkg would put them.
  dpkg-deb --contents "$deb" | awk '{ print $6 }' | sed 's|^\./||; /\/$/d' >"$work/$package.files"
  dpkg-deb -x "$deb" "$root"
  for path in ${expect[$package]}; do
    grep -qx "$path" "$work/$package.files" || fail "$package lacks $path"
  done
  # Every ELF file's run-time dependencies were found by dpkg-shlibdeps.
  if [ "$package" != fiscal-suite-dev ]; then
    grep -q 'libc6 (>=' <<<"$depends" || fail "$package: Depends not filled from its shared objects: $depends"
  fi
done

# Each file belongs to one package only; dpkg refuses a second owner.
dups=$(cat "$work"/*.files | sort | uniq -d)
[ -z "$dups" ] || fail "in more than one package: $dups"
# Every man page is packaged, with its program where that is packaged.
for page in "$man_dir"/*.1; do
  grep -lqx "usr/share/man/man1/$(basename "$page")" "$work"/*.files || fail "$(basename "$page") is in no package"
done
grep -qx usr/share/man/man1/fiscal-sim.1 "$work/fiscal-sim.files" || fail "fiscal-sim.1 is not with fiscal-sim"

# The service: its maintainer scripts run (dpkg needs them executable), its unit starts the program
# the package holds as the user its sysusers file makes, and its state stays private.
if [ -n "${expect[fiscal-hub]:-}" ] && [ -f "$work/fiscal-hub.files" ]; then
  deb=$work/out/fiscal-hub_${version}_${arch}.deb
  for script in postinst prerm postrm; do
    mode=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - "./$script" 2>/dev/null | awk '{ print $1 }')
    [ "$mode" = -rwxr-xr-x ] || fail "fiscal-hub: $script is '$mode', not an executable script"
    dpkg-deb --ctrl-tarfile "$deb" | tar -xO "./$script" 2>/dev/null | sh -n || fail "fiscal-hub: $script does not parse"
  done
  unit=$root/usr/lib/systemd/system/fiscal-hub.service
  exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
  grep -qx "${exec_start#/}" "$work/fiscal-hub.files" || fail "fiscal-hub.service starts $exec_start, which the package lacks"
  user=$(sed -n 's/^User=//p' "$unit")
  grep -q "^u $user " "$root/usr/lib/sysusers.d/fiscal-hub.conf" || fail "the sysusers file does not make the unit's user '$user'"
  grep -qx StateDirectoryMode=0700 "$unit" || fail "fiscal-hub.service does not keep its state folder private"
  grep -qx usr/share/man/man1/fiscal-hub.1 "$work/fiscal-hub.files" || fail "fiscal-hub.1 is not with fiscal-hub"
fi

# The libraries: a SONAME, the ldconfig trigger and a shlibs entry for packages built on them.
for lib in vrn_interface:libvrn-interface1 tallyport:libtallyport1; do
  name=${lib%%:*}
  package=${lib#*:}
  soname=$(objdump -p "$root/usr/lib/lib$name.so.1" 2>/dev/null | awk '/SONAME/ { print $2 }')
  [ "$soname" = "lib$name.so.1" ] || fail "lib$name.so.1 has SONAME '$soname'"
  dpkg-deb --ctrl-tarfile "$work/out/${package}_${version}_${arch}.deb" | tar -xO ./shlibs 2>/dev/null |
    grep -q "^lib$name 1 $package" || fail "$package has no shlibs entry"
done
# No program or library keeps a run path into the build tree.
while read -r file; do
  if readelf -d "$file" 2>/dev/null | grep -q 'R.*PATH'; then
    fail "$file keeps a run path: $(readelf -d "$file" | grep 'R.*PATH')"
  fi
done < <(find "$root/usr/bin" "$root/usr/lib" -maxdepth 1 -type f; find "$root/usr/libexec" -type f 2>/dev/null)

# The -dev files, as unpacked, build a caller.
export PKG_CONFIG_LIBDIR=$root/usr/lib/pkgconfig PKG_CONFIG_PATH=
# shellcheck disable=SC2046
"$cc" ${CFLAGS:-} ${LDFLAGS:-} -o "$work/vrn_request" "$(dirname "$0")/../../examples/vrn_request.c" $(pkg-config --cflags --libs vrn_interface) ||
  fail "vrn_request against the unpacked packages"

# apt resolves the dependencies of the set on this system (a simulation: nothing is installed).
if command -v apt-get >/dev/null 2>&1; then
  apt-get -s -q install "$work"/out/*.deb >"$work/apt.log" 2>&1 || {
    cat "$work/apt.log"
    fail "apt-get install (simulated) of the packages"
  }
fi
[ $failed -eq 0 ] && echo "${#expect[@]} packages: contents, fields, dependencies and shlibs as expected"
exit $failed
