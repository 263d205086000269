#!/bin/sh
# Fails when a native string has no finished translation in a catalogue:
#   check_catalogues.sh <source dir> [<folder of LINGUAS and *.po>]
# Collects the strings afresh (po/update-pot.sh), then for every language of
# LINGUAS: msgfmt --check is clean, no entry is fuzzy, and msgcmp finds every
# string of the template translated; the same for the manual page's
# catalogues in man/ against its paragraphs (po4a). Also checks itself: a catalogue with one
# translation taken out and one marked fuzzy must each be refused.
set -eu
src=$1
podir=${2:-$src/po}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sh "$src/po/update-pot.sh" "$src" "$tmp/zimbrel.pot"

status=0
check_against() {  # check_against <po file> <label> <template>: 0 when complete and clean
  ok=0
  msgfmt --check -o /dev/null "$1" 2>"$tmp/err" || { echo "$2: msgfmt --check:"; cat "$tmp/err"; ok=1; }
  fuzzy=$(msgattrib --only-fuzzy --no-obsolete "$1" | grep -c '^msgid ' || true)
  [ "$fuzzy" -eq 0 ] || { echo "$2: $fuzzy fuzzy entries"; ok=1; }
  msgcmp "$1" "$3" 2>"$tmp/err" || { echo "$2: untranslated or missing:"; cat "$tmp/err"; ok=1; }
  return $ok
}
check() { check_against "$1" "$2" "$tmp/zimbrel.pot"; }

langs=$(grep -v '^#' "$podir/LINGUAS" | tr -s ' \n' '  ')
[ -n "$langs" ] || { echo "no languages in LINGUAS"; exit 1; }
for lang in $langs; do
  if [ -f "$podir/$lang.po" ]; then
    check "$podir/$lang.po" "$lang" || status=1
  else
    echo "$lang: no $lang.po"; status=1
  fi
done

# The manual page's catalogues (po4a): the same checks against its paragraphs.
if [ -d "$podir/man" ]; then
  po4a-updatepo -f man -M UTF-8 -m "$src/debian/zimbrel.1" -p "$tmp/man.pot" >/dev/null 2>&1 ||
    { echo "po4a-updatepo cannot read the manual page"; exit 1; }
  for po in "$podir"/man/*.po; do
    [ -f "$po" ] || continue
    check_against "$po" "man $(basename "$po")" "$tmp/man.pot" || status=1
  done
fi

# The check must see a gap: drop one translation, then mark one fuzzy.
first=$(echo $langs | cut -d' ' -f1)
awk 'BEGIN{done=0} /^msgstr "[^"]/ && !done {print "msgstr \"\""; done=1; next} {print}' \
  "$podir/$first.po" >"$tmp/gap.po"
if check "$tmp/gap.po" gap >/dev/null 2>&1; then echo "a missing translation went unseen"; status=1; fi
awk 'BEGIN{done=0} /^msgid "[^"]/ && !done {print "#, fuzzy"; done=1} {print}' \
  "$podir/$first.po" >"$tmp/fuzzy.po"
if check "$tmp/fuzzy.po" fuzzy >/dev/null 2>&1; then echo "a fuzzy translation went unseen"; status=1; fi
exit $status
