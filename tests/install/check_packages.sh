#!/bin/sh
# Installs the Debian packages into a clean Debian 12 root and checks them
# there (tests/install/packages_inside.sh): the root is made by mmdebstrap
# from the package archive that this machine's apt uses (its sources lists),
# with apt's package cache of this machine linked in, so that what is cached
# is not fetched again. The root holds Debian's minimal system with apt, and
# what the test drives it with: Xvfb, xdotool, D-Bus and Thunar (the file
# manager whose module is checked). Nothing is mounted outside a private
# mount namespace; the root is removed at the end.
#   check_packages.sh <folder with the .deb files> <menu probe GTK module>
set -eu
debs=$(realpath "$1")
probe=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
for tool in mmdebstrap unshare; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
unshare -m true 2>/dev/null || { echo "SKIP: unshare -m is not permitted here"; exit 77; }

root=$(mktemp -d "${TMPDIR:-/var/tmp}/zimbrel-root.XXXXXX")
cleanup() { rm -rf --one-file-system "$root"; }
trap cleanup EXIT
set --
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -s "$f" ] && set -- "$@" "$f"
done
[ $# -gt 0 ] || { echo "SKIP: apt has no sources here"; exit 77; }

start=$(date +%s)
echo "== mmdebstrap: a clean Debian 12 root in $root"
mmdebstrap --variant=apt --mode=root --verbose \
  --include=passwd,ca-certificates,xvfb,xauth,x11-utils,x11-xserver-utils,xdotool,dbus,thunar \
  --dpkgopt=force-unsafe-io --skip=cleanup/apt/lists --skip=cleanup/apt/cache \
  --setup-hook='mkdir -p "$1/var/cache/apt/archives"; cp -al /var/cache/apt/archives/*.deb "$1/var/cache/apt/archives/" 2>/dev/null || true' \
  --customize-hook='printf "#!/bin/sh\nexit 101\n" > "$1/usr/sbin/policy-rc.d"; chmod 755 "$1/usr/sbin/policy-rc.d"' \
  bookworm "$root" "$@" >"$debs/mmdebstrap.log" 2>&1 || {
  tail -30 "$debs/mmdebstrap.log"; echo "FAIL: mmdebstrap"; exit 1
}
echo "(root made in $(($(date +%s) - start)) s)"

mkdir "$root/zbtest"
for d in "$debs"/*.deb; do
  case "$d" in *-dbgsym_*) ;; *) cp "$d" "$root/zbtest/" ;; esac
done
cp "$here/packages_inside.sh" "$here/drive_flow.sh" "$root/zbtest/"
cp "$probe" "$root/zbtest/menu_probe.so"
[ -f /etc/resolv.conf ] && cp -L /etc/resolv.conf "$root/etc/resolv.conf"

status=0
unshare -m --propagation private sh -c '
  set -e
  r=$1
  mount -t proc proc "$r/proc"
  mount -t sysfs -o ro sysfs "$r/sys"
  mount --rbind /dev "$r/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
  exec chroot "$r" /bin/sh /zbtest/packages_inside.sh /zbtest
' sh "$root" || status=$?
echo "(clean-root test took $(($(date +%s) - start)) s)"
exit $status
