#!/bin/sh
# Runs inside a clean Debian root (see check_packages.sh), as root: installs
# the packages as a user would ("apt install ./zimbrel_*.deb ..."), lets two
# ordinary users make and send ringtones at the same time (one from Thunar's
# context menu, one from the command line) with the demo service, then
# removes and purges the packages and checks that nothing of them is left.
#   packages_inside.sh <folder holding the .deb files and the test's files>
set -u
T=$1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
note() { echo "== $*"; }
export DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin
PACKAGES="zimbrel zimbrel-service thunar-zimbrel"
LIB=/usr/lib/zimbrel
REG=/var/lib/zimbrel/registry

# Every path of the root, less the test's own folders, the users' homes and
# what apt and dpkg keep about themselves.
snapshot() {
  find / -xdev \( -path "$T" -o -path /home -o -path /tmp -o -path /var/tmp -o -path /var/log \
    -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /root \) -prune \
    -o -print | sort
}

# Two ordinary users, made before anything of Zimbrel is installed.
for u in ann bob; do useradd -m -s /bin/sh "$u"; done
snapshot >"$T/before.txt"

note "apt install ./zimbrel_*.deb ./zimbrel-service_*.deb ./thunar-zimbrel_*.deb"
cd "$T" || exit 1
start=$(date +%s)
if ! apt-get install -y --no-install-recommends ./zimbrel_*.deb ./zimbrel-service_*.deb \
    ./thunar-zimbrel_*.deb >"$T/install.log" 2>&1; then
  tail -30 "$T/install.log"; echo "FAIL: apt install"; exit 1
fi
grep -E "newly installed|additional disk space" "$T/install.log"
echo "(installed in $(($(date +%s) - start)) s)"

[ "$(readlink -f /usr/bin/zimbrel)" = "$LIB/zimbrel" ] || fail "/usr/bin/zimbrel does not lead to the program"
[ "$(readlink -f "$LIB/res/ffmpeg")" = "$(readlink -f /usr/bin/ffmpeg)" ] || fail "res/ffmpeg"
[ -x "$LIB/res/mp3gain" ] || fail "res/mp3gain"
[ -f /usr/share/applications/org.zimbrel.Zimbrel.desktop ] || fail "no launcher"
module=$(dpkg -L thunar-zimbrel | grep 'thunarx-3/libzimbrel-thunar.so$')
[ -n "$module" ] && [ -f "$module" ] || fail "no Thunar module"
[ -d "$REG/HKEY_CLASSES_ROOT/*/ShellEx/ContextMenuHandlers/DovetrilShl" ] ||
  fail "the component is not registered"
[ -f "$REG/HKEY_LOCAL_MACHINE/Software/Microsoft/Windows/CurrentVersion/Shell Extensions/Approved/{5905D5DE-79B4-4149-AE02-9847C2A328ED}" ] ||
  fail "the component is not approved"

note "two users make ringtones at the same time"
mkdir -p /var/tmp/service /tmp/barrier
chmod 1777 /tmp/barrier
echo 2 >/tmp/barrier/drivers
zimbrel-service --port 8765 --data /var/tmp/service >"$T/service.log" 2>&1 &
service=$!
i=0
until grep -q listening "$T/service.log"; do
  i=$((i + 1)); [ "$i" -lt 100 ] || { fail "the service did not start"; break; }; sleep 0.1
done
cp "$T/drive_flow.sh" "$T/menu_probe.so" /tmp/ 2>/dev/null
chmod 755 /tmp/drive_flow.sh
for u in ann bob; do
  runuser -u "$u" -- sh -c 'mkdir -p ~/Music && ffmpeg -nostdin -v error -f lavfi \
    -i sine=frequency=440:sample_rate=44100:duration=90 -ac 2 -c:a libmp3lame -b:a 128k \
    "$HOME/Music/$1"' sh "$u's song.mp3"
done
as_user() {
  u=$1; shift
  runuser -u "$u" -- env -i HOME="/home/$u" USER="$u" LOGNAME="$u" PATH="$PATH" \
    ZIMBREL_SERVICE_HOST=127.0.0.1:8765 sh /tmp/drive_flow.sh "$@"
}
as_user ann 11 "/home/ann/Music/ann's song.mp3" "Ann Example" "+44 7700 900111" Tellwave \
  /tmp/barrier --thunar /tmp/menu_probe.so >"$T/ann.log" 2>&1 &
ann=$!
as_user bob 12 "/home/bob/Music/bob's song.mp3" "Bob Example" "+44 7700 900222" Tellwave \
  /tmp/barrier >"$T/bob.log" 2>&1 &
bob=$!
wait "$ann" || fail "ann's ringtone"
wait "$bob" || fail "bob's ringtone"
cat "$T/ann.log" "$T/bob.log"
kill "$service"
wait "$service" 2>/dev/null

for u in ann:900111 bob:900222; do
  user=${u%%:*} digits=447700${u#*:}
  n=$(ls /var/tmp/service/phones/"$digits" 2>/dev/null | wc -l)
  [ "$n" -eq 1 ] || fail "$user: $n ringtones delivered to $digits"
  work=/home/$user/.cache/zimbrel/tmp
  [ "$(stat -c '%U %a' "$work" 2>/dev/null)" = "$user 700" ] ||
    fail "$user's work folder: $(stat -c '%U %a' "$work" 2>&1)"
  # The other user's sweeps never reached it: the ringtone is still there.
  ls "$work"/ringtone-*.mp3 >/dev/null 2>&1 || fail "$user's ringtone is gone from $work"
  [ "$(cat "/home/$user/.config/zimbrel/registry/HKEY_CURRENT_USER/Software/Zimbrel/ZBInstDir" |
    tail -c +5 | tr -d '\000')" = "$LIB" ] || fail "$user: ZBInstDir is not $LIB"
done
runuser -u bob -- ls /home/ann/.cache/zimbrel/tmp >/dev/null 2>&1 && fail "bob sees ann's work files"
for u in ann bob; do
  [ -e "/tmp/zimbrel-$(id -u "$u")" ] && fail "$u: a work folder in /tmp although the cache served"
done
# Nothing was written beside the installed program.
dpkg --verify zimbrel || fail "the installed files changed"
extra=$(find "$LIB" /usr/share/applications /usr/share/icons/hicolor -newer "$T/before.txt" \
  ! -type d 2>/dev/null | grep -v -x -F "$(dpkg -L $PACKAGES)" |
  grep -v -e '/icon-theme.cache$' -e '/mimeinfo.cache$')  # the desktop's own caches
[ -z "$extra" ] || fail "files written beside the program: $extra"

note "apt remove"
apt-get remove -y $PACKAGES >"$T/remove.log" 2>&1 || { tail -20 "$T/remove.log"; fail "apt remove"; }
for p in "$LIB" /var/lib/zimbrel /usr/bin/zimbrel /usr/bin/zimbrel-service "$module" \
         /usr/share/applications/org.zimbrel.Zimbrel.desktop; do
  [ -e "$p" ] || [ -L "$p" ] && fail "left after remove: $p"
done
note "apt purge"
# A package without maintainer scripts is gone with "remove"; those left
# with their configuration ("rc") are purged.
rc=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' $PACKAGES 2>/dev/null | awk '$2 == "rc" {print $1}')
echo "left with their configuration after remove: ${rc:-none}"
if [ -n "$rc" ]; then
  apt-get purge -y $rc >"$T/purge.log" 2>&1 || { tail -20 "$T/purge.log"; fail "apt purge"; }
fi
apt-get autoremove --purge -y >>"$T/purge.log" 2>&1 || fail "apt autoremove"
left=$(dpkg -l $PACKAGES 2>/dev/null | grep -E '^[a-z][a-zA-Z] ' | grep -v '^un')
[ -z "$left" ] || fail "packages left: $left"
snapshot >"$T/after.txt"
# What is new since before the install must belong to a package that is
# still installed (apt's autoremove keeps what an installed package
# recommends); anything else was left behind.
comm -13 "$T/before.txt" "$T/after.txt" >"$T/new.txt"
while IFS= read -r path; do
  if owner=$(dpkg -S "$path" 2>/dev/null); then
    echo "kept by an installed package: ${owner%%:*} $path"
  else
    fail "left behind: $path"
  fi
done <"$T/new.txt"
comm -23 "$T/before.txt" "$T/after.txt" | sed 's/^/FAIL: gone since before the install: /' |
  grep . && fail "files that were there before are gone"
find / -xdev \( -path /proc -o -path "$T" -o -path /home \) -prune -o -name '*zimbrel*' -print |
  grep . && fail "files named after zimbrel are left"

[ "$fails" -eq 0 ] && echo "packages OK in a clean root"
exit "$fails"
