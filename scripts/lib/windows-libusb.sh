# shellcheck shell=bash
# libusb for the Windows builds, sourced by install-deps: the version that Debian ships for Linux,
# built from Debian's own source package with both mingw-w64 compilers as a static library (its
# WinUSB back end), into a prefix of the suite's own. The mingw presets link it from there.
#
# Nothing is fetched from anywhere but the machine's own apt sources: apt checks the download
# against the signed Release file and the Sources index (hashes of the .dsc and of each tarball),
# and dpkg-source checks the tarballs against the .dsc once more before it unpacks them.
# install-deps gives `need_root` and the `as_root` command prefix it sets.

windows_libusb_prefix=${FISCAL_LIBUSB_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/fiscal-suite/libusb}
# Raise it when the build below changes, so that prefixes built the old way are built again.
windows_libusb_recipe=1
windows_libusb_triples=(x86_64-w64-mingw32 i686-w64-mingw32)
windows_libusb_source_entry=/etc/apt/sources.list.d/fiscal-suite-deb-src.sources

# The machine's binary entries as source entries, in a file of their own beside them: the
# binary entries stay where they are, so an update never runs with a list that lacks them.
windows_libusb_derive_source_entry() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    if [ ! -e "$file" ] || [ "$file" = "$windows_libusb_source_entry" ]; then continue; fi
    # deb822 stanzas: keep the enabled ones that have binary entries, as source entries.
    awk '
      function flush() {
        if (stanza != "" && types ~ /(^|[ \t])deb([ \t]|$)/ && !disabled) print stanza "Types: deb-src\n"
        stanza = ""; types = ""; disabled = 0
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      /^Types:/ { types = substr($0, 7); next }
      /^Enabled:[ \t]*no/ { disabled = 1 }
      { stanza = stanza $0 "\n" }
      END { flush() }' "$file"
  done
  # One-line lists, the older format, as stanzas too.
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$file" ] || continue
    awk '$1 == "deb" {
      options = ""
      if ($2 ~ /^\[/) { options = $2; sub(/^\[/, "", options); sub(/\]$/, "", options); $2 = ""; $0 = $0; }
      printf "URIs: %s\nSuites: %s\nComponents:", $2, $3
      for (i = 4; i <= NF; i++) printf " %s", $i
      printf "\n"
      n = split(options, opts, " ")
      for (i = 1; i <= n; i++) if (opts[i] ~ /^signed-by=/) printf "Signed-By: %s\n", substr(opts[i], 11)
      printf "Types: deb-src\n\n"
    }' "$file"
  done
}

windows_libusb_source_known() {
  # Read whole first: grep -q would leave apt-cache writing into a closed pipe, which pipefail
  # counts as a failure.
  local records
  records=$(apt-cache showsrc --only-source libusb-1.0 2>/dev/null) || return 1
  grep -qx "Version: $1" <<<"$records"
}

windows_libusb_install() {
  local version
  version=$(dpkg-query -W -f='${source:Version}' libusb-1.0-0-dev)
  local wanted="libusb-1.0 $version recipe $windows_libusb_recipe"
  local triple stale=()
  for triple in "${windows_libusb_triples[@]}"; do
    if [ "$(cat "$windows_libusb_prefix/$triple/fiscal-suite.stamp" 2>/dev/null)" != "$wanted" ]; then
      stale+=("$triple")
    fi
  done
  if [ ${#stale[@]} -eq 0 ]; then
    echo "install-deps: libusb $version for mingw-w64 present in $windows_libusb_prefix"
    return 0
  fi

  if ! windows_libusb_source_known "$version"; then
    need_root "the source package of libusb $version is not known to apt"
    local entry
    entry=$(windows_libusb_derive_source_entry)
    if [ -z "$entry" ]; then
      echo "install-deps: no binary apt entry to derive a source entry from" >&2
      return 1
    fi
    echo "install-deps: adding source entries beside the binary ones ($windows_libusb_source_entry)"
    printf '# Source entries derived by the fiscal suite'"'"'s scripts/install-deps from the binary ones\n%s' \
      "$entry" | "${as_root[@]}" tee "$windows_libusb_source_entry" >/dev/null
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    if ! windows_libusb_source_known "$version"; then
      echo "install-deps: apt's sources offer no source package libusb-1.0 $version" >&2
      return 1
    fi
  fi

  mkdir -p "$windows_libusb_prefix"
  # One builder at a time; a second one waits and then finds the prefix current.
  exec {lock}>"$windows_libusb_prefix/.lock"
  flock "$lock"
  local work
  work=$(mktemp -d)
  chmod 0755 "$work"  # apt downloads as its own user, _apt
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" RETURN
  echo "install-deps: building libusb $version for ${stale[*]} from Debian's source package"
  (cd "$work" && apt-get source --download-only -qq "libusb-1.0=$version" >/dev/null)
  local dsc
  dsc=$(ls "$work"/libusb-1.0_*.dsc)
  # Unpacks and applies Debian's patches; fails on a tarball that does not match the .dsc.
  dpkg-source -x "$dsc" "$work/src" >"$work/unpack.log" 2>&1 || {
    cat "$work/unpack.log" >&2
    return 1
  }
  for triple in "${stale[@]}"; do
    if [ "$(cat "$windows_libusb_prefix/$triple/fiscal-suite.stamp" 2>/dev/null)" = "$wanted" ]; then
      continue  # another builder finished it while this one waited
    fi
    local build="$work/build-$triple" final="$windows_libusb_prefix/$triple"
    local staged="$final.new"
    rm -rf "$staged"
    mkdir -p "$build"
    # Static only: the DLLs take it in whole and ship no libusb-1.0.dll. Installed into a stage
    # and moved into place whole, so that a prefix is either complete or absent.
    if ! (cd "$build" &&
      "$work/src/configure" --host="$triple" --prefix="$final" --enable-static --disable-shared \
        CC="$triple-gcc-posix" CFLAGS="-O2 -g0" &&
      make -j2 && make install DESTDIR="$work/stage-$triple" &&
      mv "$work/stage-$triple$final" "$staged") >"$work/build-$triple.log" 2>&1; then
      tail -n 40 "$work/build-$triple.log" >&2
      echo "install-deps: building libusb for $triple failed" >&2
      return 1
    fi
    echo "$wanted" >"$staged/fiscal-suite.stamp"
    rm -rf "$final"
    mv "$staged" "$final"
  done
  echo "install-deps: libusb $version for mingw-w64 installed in $windows_libusb_prefix"
}
