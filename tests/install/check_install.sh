#!/bin/sh
# Installs the "zimbrel" component of a build into a temporary prefix and
# checks the layout: the module directory with its links (and no work
# folder), the bin link, and desktop files that the desktop's own
# validators accept. Usage: check_install.sh <build dir>
set -u
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/zimbrel-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

if ! cmake --install "$build" --component zimbrel --prefix "$prefix" >"$prefix.log" 2>&1; then
  cat "$prefix.log"; rm -f "$prefix.log"; echo "FAIL: cmake --install"; exit 1
fi
rm -f "$prefix.log"
mod=$prefix/lib/zimbrel

[ -x "$mod/zimbrel" ] || fail "no program at $mod/zimbrel"
[ -f "$mod/extensions/libzimbrel-webext.so" ] || fail "no web process extension"
for page in selectSong.html aboutBox.html helpContact.html helpCompatibility.html helpUsage.html \
            zimbrel.css zimbrel.js selectSong.js aboutBox.js help.js status.js members.js images/zimbrel.svg; do
  [ -f "$mod/res/$page" ] || fail "res/$page missing"
done
for tool in ffmpeg mp3gain; do
  [ "$(readlink "$mod/res/$tool")" = "/usr/bin/$tool" ] || fail "res/$tool is not a link to /usr/bin/$tool"
done
# Work files go to each user's own folder, never beside the program.
[ -e "$mod/res/tmp" ] && fail "res/tmp is installed beside the program"
if command -v chmcmd >/dev/null 2>&1; then
  [ -s "$mod/help.chm" ] || fail "help.chm missing"
  head -c 4 "$mod/help.chm" | grep -q ITSF || fail "help.chm is not a compiled help file"
fi
[ "$(readlink -f "$prefix/bin/zimbrel")" = "$(readlink -f "$mod/zimbrel")" ] || fail "bin/zimbrel does not lead to the program"

desktop=$prefix/share/applications/org.zimbrel.Zimbrel.desktop
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate"
  grep -qx "Exec=\"$mod/zimbrel\" %f" "$desktop" || fail "Exec does not run the installed program: $(grep ^Exec "$desktop")"
  grep -q "^MimeType=.*audio/mpeg;" "$desktop" || fail "no audio types for Open With"
  grep -qx "GenericName\[de\]=Klingelton-Ersteller" "$desktop" || fail "the launcher is not translated"
else
  fail "no launcher"
fi
metainfo=$prefix/share/metainfo/org.zimbrel.Zimbrel.metainfo.xml
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" >/dev/null || { appstreamcli validate --no-net "$metainfo"; fail "appstreamcli validate"; }
  grep -q '<summary xml:lang="de">' "$metainfo" || fail "the metainfo is not translated"
else
  fail "no metainfo"
fi
# The installed program finds its catalogues at <its folder>/../../share/locale.
[ -s "$mod/../../share/locale/de/LC_MESSAGES/zimbrel.mo" ] || fail "no German catalogue"
[ -s "$prefix/share/man/de/man1/zimbrel.1" ] || fail "no German manual page"

icons=$prefix/share/icons/hicolor
[ -f "$icons/scalable/apps/org.zimbrel.Zimbrel.svg" ] || fail "no scalable icon"
for n in 16 22 24 32 48 64 128 256 512; do
  png=$icons/${n}x${n}/apps/org.zimbrel.Zimbrel.png
  if [ -f "$png" ]; then
    # A PNG's width and height are big-endian at bytes 16 and 20.
    size=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8}')
    [ "$size" = "${n}x${n}" ] || fail "$png is $size"
  else
    fail "no ${n}x${n} icon"
  fi
done

# Installing again over the same prefix works (the links are replaced).
cmake --install "$build" --component zimbrel --prefix "$prefix" >/dev/null 2>&1 || fail "second install"

[ "$fails" -eq 0 ] && echo "install layout OK"
exit "$fails"
