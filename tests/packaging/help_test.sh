#!/bin/bash
# Every program's --help names each option of the OPTIONS of its man page, --version prints the
# suite's version, and the page is of that version too.
#   help_test.sh MAN_DIR VERSION PROGRAM_PATH...
set -u
man_dir=$1
version=$2
shift 2
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# The options a page lists: the first word of each .TP item under OPTIONS that is an option.
page_options() {
  awk '/^\.SH / { in_options = ($2 == "OPTIONS") } in_options && item { print $2; item = 0 } in_options && /^\.TP/ { item = 1 }' "$1" |
    sed 's/\\-/-/g' | grep -- '^-' | sort -u
}

for program in "$@"; do
  name=$(basename "$program")
  page=$man_dir/$name.1
  if [ ! -f "$page" ]; then
    fail "$name has no man page"
    continue
  fi
  options=$(page_options "$page")
  grep -qx -- --help <<<"$options" || fail "$name.1 does not list --help"
  grep -qx -- --version <<<"$options" || fail "$name.1 does not list --version"
  # No display: --help and --version must not need one.
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$program" --help </dev/null 2>&1)
  rc=$?
  [ $rc -eq 0 ] || fail "$name --help: exit $rc: $help"
  # A program with subcommands names their options in each subcommand's own help.
  for sub in $(awk '/^Subcommands:/ { listed = 1; next } listed && /^  [a-z]/ { print $1 } listed && /^$/ { listed = 0 }' <<<"$help"); do
    help+=$'\n'$(timeout 20 "$program" "$sub" --help </dev/null 2>&1)
  done
  for option in $options; do
    grep -q -- "$option\b" <<<"$help" || fail "$name --help does not mention $option of its man page"
  done
  # A table of exit statuses in --help is the man page's word for word, and the README's too.
  table=$(awk '/^Exit status:/ { t = 1; next } t && /^  [0-9]  / { sub(/^  /, ""); n = $1; sub(/^[0-9]+  /, ""); print n ": " $0; next } { t = 0 }' <<<"$help")
  if [ -n "$table" ]; then
    page_table=$(awk '/^\.SH / { s = ($2 == "EXIT") } s && /^\.B [0-9]+$/ { n = $2; getline; print n ": " $0 }' "$page" |
      sed -E 's/\\-/-/g; s/\.$//; s/^([0-9]+): (.)/\1: \L\2/')
    [ "$table" = "$page_table" ] || fail "$name: the exit statuses of --help and of $name.1 differ:"$'\n'"$table"$'\n---\n'"$page_table"
    readme=$man_dir/../../README.md
    if grep -q "$name" "$readme"; then
      readme_table=$(awk '/Exit statuses:$/ { t = 1; next } t && /^- [0-9]: / { sub(/^- /, ""); print; next } t && NF { t = 0 }' "$readme")
      [ "$table" = "$readme_table" ] || fail "$name: the exit statuses of --help and of the README differ:"$'\n'"$readme_table"
    fi
  fi
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 20 "$program" --version </dev/null 2>&1)
  rc=$?
  [ $rc -eq 0 ] && [ "$out" = "$name $version" ] || fail "$name --version: exit $rc: $out"
  grep -q "^\.TH .* \"fiscal-suite $version\"" "$page" || fail "$name.1 is not of version $version"
  echo "$name: --help lists $(wc -w <<<"$options") options of its page; version $version"
done
exit $failed
