#!/usr/bin/env bash
# The installed tree runs the demo by itself: the build is installed into a
# fresh prefix under the build folder, its share/quillgate/demo.sh runs from
# there with the source tree's folders hidden (where a mount namespace can be
# had) and no QG_* variable set, and then
#   - its verdict line says "passed N of N",
#   - nothing it printed or logged names the source or the build tree,
#   - no process of the run is left.
# The prefix is removed at the end.
set -euo pipefail
usage="usage: install_demo.sh <source dir> <build dir>"
src=$(cd "${1:?$usage}" && pwd)
build=$(cd "${2:?$usage}" && pwd)
scratch=$(mktemp -d "$build/install-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
tree=$scratch/tree
screen=$scratch/screen

fail() {
  echo "FAILED: $*"
  [ -s "$screen" ] && { echo "== the demo's screen"; cat "$screen"; }
  exit 1
}

rc=0
cmake --install "$build" --prefix "$tree" >"$scratch/install.log" 2>&1 || rc=$?
[ $rc -eq 0 ] || { cat "$scratch/install.log"; fail "cmake --install ended with status $rc"; }
for f in bin/quillgate bin/libquillgatedemux.so bin/standin-gateway bin/standin-parent share/quillgate/demo.sh share/quillgate/media; do
  [ -e "$tree/$f" ] || fail "not installed: $f"
done

# What the demo must not reach: every folder at the top of the source tree
# but the one holding the build (a tmpfs over each, in a mount namespace of
# the demo's own), and the variables that point the stand-ins elsewhere.
hide=()
for d in "$src"/*/; do
  d=${d%/}
  case $build/ in "$d"/*) ;; *) hide+=("$d") ;; esac
done
ns=()
if unshare -m true 2>/dev/null; then
  ns=(unshare -m)
elif unshare -rm true 2>/dev/null; then
  ns=(unshare -rm)
fi
for v in $(compgen -e); do
  case $v in QG_*) unset "$v" ;; esac
done

cd "$scratch"
# shellcheck disable=SC2016 # expanded by the inner shell
hidden='for d in "${@:2}"; do
  mount -t tmpfs -o size=1m,mode=0755 qg-hidden "$d" && [ -z "$(ls -A "$d")" ] || exit 97
done
exec "$1/share/quillgate/demo.sh" "$1/bin" "$PWD/logs"'
status=0
if [ ${#ns[@]} -gt 0 ]; then
  echo "source tree hidden: ${#hide[@]} folders of $src"
  timeout -k 5 150 "${ns[@]}" bash -c "$hidden" hidden "$tree" "${hide[@]}" >"$screen" 2>&1 </dev/null ||
    status=$?
  [ $status -ne 97 ] || fail "could not hide the source tree"
else
  echo "no mount namespace here: the source tree stays in place, its paths are looked for in the logs"
  timeout -k 5 150 "$tree/share/quillgate/demo.sh" "$tree/bin" "$scratch/logs" >"$screen" 2>&1 </dev/null ||
    status=$?
fi
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  fail "the demo did not end within 150 s"
fi

verdict=$(tail -n 1 "$screen")
echo "installed demo: $verdict"
if ! [[ $verdict =~ ^demo:\ passed\ ([1-9][0-9]*)\ of\ ([0-9]+)\ steps\ .*\;\ exit\ status\ 0$ ]] ||
  [ "${BASH_REMATCH[1]}" != "${BASH_REMATCH[2]}" ]; then
  fail "the verdict is not \"passed N of N\""
fi
[ $status -eq 0 ] || fail "the demo ended with status $status"

# The prefix lies inside the build tree (and that perhaps in the source
# tree): its own paths are taken out before looking for the others.
leaks=$(awk -v mine="$scratch/" -v s="$src/" -v b="$build/" '
  {
    line = $0
    while ((i = index(line, mine)) > 0)
      line = substr(line, 1, i - 1) substr(line, i + length(mine))
    if ((index(line, s) || index(line, b)) && n++ < 5)
      print FILENAME ": " substr($0, 1, 300)
  }' "$screen" "$scratch"/logs/* "$tree/share/quillgate/demo.sh")
[ -z "$leaks" ] || fail "the installed demo used the source or build tree:
$leaks"

# Every process of the run had the prefix in its command line (the
# programs by their path, the script's subshells by the script's).
left=()
for _ in $(seq 50); do
  left=()
  for p in /proc/[0-9]*; do
    p=${p#/proc/}
    [ "$p" != $$ ] || continue
    cmd=$(tr '\0' ' ' 2>/dev/null <"/proc/$p/cmdline") || continue
    case $cmd in *"$scratch/"*) left+=("$p: $cmd") ;; esac
  done
  [ ${#left[@]} -gt 0 ] || break
  sleep 0.1
done
if [ ${#left[@]} -gt 0 ]; then
  for l in "${left[@]}"; do kill -9 "${l%%:*}" 2>/dev/null || true; done
  fail "processes left after the demo:
$(printf '%s\n' "${left[@]}")"
fi
echo "passed: the installed tree ran the demo alone, no process left"
