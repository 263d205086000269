#!/bin/sh
# Installs the Debian 12 packages that Zimbrel needs. Run as root (or
# through sudo). Safe to run again.
#   install-deps.sh          what building and running need (the README's
#                            run command: the program and the demo service)
#   install-deps.sh --test   everything the tests need as well: every file
#                            manager with its development files, the test
#                            bench (Xvfb, xdotool, ...), clang for the fuzz
#                            targets, clang-tidy for the naming rule, the
#                            packaging tools and Node.js
set -e
SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
PACKAGES="
  build-essential cmake pkg-config
  libgtk-3-dev libwebkit2gtk-4.1-dev
  libcdio-dev libcurl4-openssl-dev libcpp-httplib-dev libqrencode-dev
  ffmpeg mp3gain fp-utils
  bubblewrap xdg-dbus-proxy
  gettext po4a
"
if [ "${1:-}" = --test ]; then
  PACKAGES="$PACKAGES
  git
  libgtest-dev libgmock-dev libbenchmark-dev
  libgtk-4-dev libnautilus-extension-dev nautilus
  libcaja-extension-dev caja libnemo-extension-dev nemo libthunarx-3-dev thunar
  qtbase5-dev libkf5kio-dev dolphin phonon4qt5-backend-null at-spi2-core
  curl
  tinyproxy-bin microsocks
  sox espeak-ng
  sound-theme-freedesktop asc-music fb-music-high nginx-light
  xvfb xauth xdotool x11-utils imagemagick dbus dbus-x11
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils xfwm4
  mutter sway grim wtype
  kwin-wayland plasma-wayland-protocols libwayland-dev qtwayland5 python3-pyatspi
  clang libclang-rt-14-dev clang-tools clang-tidy
  xchm desktop-file-utils appstream librsvg2-bin fonts-cantarell
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  debhelper lintian mmdebstrap ccache
  zbar-tools kdeconnect iproute2 systemd util-linux gjs gir1.2-gtk-3.0 libglib2.0-bin
  locales
"
fi
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
# The translation tests run the program under a German locale.
if [ "${1:-}" = --test ] && ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
# KDE Connect's daemon is started by the tests themselves, in network
# namespaces of their own. Its D-Bus activation file and session autostart
# are moved aside so that no other test's session bus (nor a desktop
# session) can start one on the machine's real network.
if [ "${1:-}" = --test ]; then
  for f in /usr/share/dbus-1/services/org.kde.kdeconnect.service \
           /etc/xdg/autostart/org.kde.kdeconnect.daemon.desktop; do
    $SUDO dpkg-divert --quiet --local --rename --divert "$f.zimbrel-tests" --add "$f"
  done
fi
# GSConnect's service runs in the tests without GNOME Shell (which its
# package would pull in): the package is unpacked, not installed.
GSCONNECT=/opt/zimbrel-tests/gsconnect
if [ "${1:-}" = --test ] && [ ! -e "$GSCONNECT/usr/share/gnome-shell/extensions" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download gnome-shell-extension-gsconnect >/dev/null 2>&1 || true)
  if ls "$tmp"/gnome-shell-extension-gsconnect_*.deb >/dev/null 2>&1; then
    $SUDO mkdir -p "$GSCONNECT"
    $SUDO dpkg-deb -x "$tmp"/gnome-shell-extension-gsconnect_*.deb "$GSCONNECT"
  fi
  rm -rf "$tmp"
fi
# Node.js and npm run the page linter (scripts/lint-pages.sh); a Node.js
# that is already installed (with its npm) is kept.
if [ "${1:-}" = --test ] && ! command -v npm >/dev/null 2>&1; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
fi
