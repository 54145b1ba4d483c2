# Sourced by the README walk-through tests: a marked shell block of the README, ready to run as
# it stands in a scratch folder whose build/default is this build.
#   readme_block README MARKER BUILD_DIR
# sets $dir (the scratch folder, now the working directory) and $block (the block's text); the
# folder, and whatever the block left running in it, goes when the script ends.
readme_block() {
  local readme=$1 marker=$2 build=$3
  dir=$(mktemp -d)
  trap 'cd /; readme_block_stop_leftovers; rm -rf "$dir"' EXIT
  export FISCAL_COM_DIR=$dir/com
  mkdir -m 700 "$FISCAL_COM_DIR"

  block=$(awk -v marker="$marker runs the next block" '
               index($0, marker) {marked = 1; next}
               marked && /^```sh$/ {inside = 1; next}
               inside && /^```$/ {exit}
               inside {print}' "$readme")
  if [ -z "$block" ]; then
    echo "no marked shell block in $readme"
    exit 1
  fi
  mkdir -p "$dir/build"
  ln -s "$build" "$dir/build/default"
  cd "$dir" || exit 1
}

# A block that failed half-way may leave its programs running: whatever still works in the
# scratch folder is ended.
readme_block_stop_leftovers() {
  local p
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/cwd" 2>/dev/null)" = "$dir" ]; then kill "${p#/proc/}" 2>/dev/null; fi
  done
}
