#!/bin/sh
# Runs the system step of the file-manager extension for real and checks it:
# "cmake --install <build> --component shellext" puts dovetril.so and its
# tool under the prefix, every built module into its file manager's extension
# folder (created when missing) and registers the component; the installed
# uninstall-shellext.sh removes all of it again. The machine stays untouched:
# the run happens in a private mount namespace in which each extension
# folder's nearest existing parent is a writable layer over the real one, the
# prefix is a temporary folder and the registry is a temporary one. A DESTDIR
# install (packaging) copies the same files and registers nothing.
# Usage: check_shellext_install.sh <build dir> <lib dir below prefix> <module file>...
set -u
if [ "${1:-}" != --inside ]; then
  if ! unshare -m true 2>/dev/null; then
    echo "SKIP: unshare -m is not permitted here"; exit 77
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/zimbrel-shellext.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  unshare -m sh "$0" --inside "$work" "$@"
  exit $?
fi
work=$2 build=$3 libdir=$4
shift 4
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# Writable layers over the nearest existing parents (outermost first).
mount --make-rprivate / || exit 1
mkdir -p "$work/layers"
mount -t tmpfs tmpfs "$work/layers" || exit 1
tops=$(for m in "$@"; do
  d=$(dirname "$m"); while [ ! -d "$d" ]; do d=$(dirname "$d"); done; echo "$d"
done | sort -u)
layered=""
n=0
for top in $tops; do
  skip=""
  for l in $layered; do case "$top/" in "$l"/*) skip=1 ;; esac; done
  [ -n "$skip" ] && continue
  n=$((n + 1))
  mkdir "$work/layers/up$n" "$work/layers/work$n"
  mount -t overlay overlay -o "lowerdir=$top,upperdir=$work/layers/up$n,workdir=$work/layers/work$n" "$top" ||
    { echo "SKIP: no overlay mount here"; exit 77; }
  layered="$layered $top"
done

export ZIMBREL_REGISTRY_DIR="$work/reg"
prefix=$work/prefix
handler="$ZIMBREL_REGISTRY_DIR/HKEY_CLASSES_ROOT/*/ShellEx/ContextMenuHandlers/DovetrilShl"
if ! cmake --install "$build" --component shellext --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"; echo "FAIL: cmake --install --component shellext"; exit 1
fi
for f in dovetril.so dovetril-regsvr uninstall-shellext.sh; do
  [ -f "$prefix/$libdir/$f" ] || fail "$prefix/$libdir/$f missing"
done
for m in "$@"; do
  [ -f "$m" ] || fail "module $m missing after install"
done
[ -d "$handler" ] || fail "the component is not registered"

# Installing again over the same files works.
cmake --install "$build" --component shellext --prefix "$prefix" >/dev/null 2>&1 || fail "second install"

PREFIX=$prefix sh "$prefix/$libdir/uninstall-shellext.sh" || fail "uninstall-shellext.sh failed"
for m in "$@"; do
  [ -e "$m" ] && fail "module $m left after uninstall"
  [ -d "$(dirname "$m")" ] || fail "extension folder $(dirname "$m") removed"
done
[ -e "$prefix/$libdir" ] && fail "$prefix/$libdir left after uninstall"
[ -e "$handler" ] && fail "the component is still registered"

# Packaging: DESTDIR gets the same files and nothing is registered.
rm -rf "$ZIMBREL_REGISTRY_DIR"
dest=$work/dest
DESTDIR=$dest cmake --install "$build" --component shellext --prefix /usr >/dev/null 2>&1 ||
  fail "DESTDIR install"
for m in "$@"; do
  [ -f "$dest$m" ] || fail "DESTDIR: module $dest$m missing"
  [ -e "$m" ] && fail "DESTDIR: $m installed outside DESTDIR"
done
[ -f "$dest/usr/$libdir/dovetril.so" ] || fail "DESTDIR: dovetril.so missing"
[ -e "$ZIMBREL_REGISTRY_DIR/HKEY_CLASSES_ROOT" ] && fail "DESTDIR: something was registered"

[ "$fails" -eq 0 ] && echo "shellext install OK ($# modules)"
exit "$fails"
