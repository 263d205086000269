#!/bin/sh
# Writes the template of the native strings: update-pot.sh <source dir> <out.pot>
# The build (target zimbrel-pot) and the catalogue check both call it, so
# they collect the same strings: Tr() and N_() in the C++ sources, the
# launcher's and the metainfo's translatable texts, all listed in po/POTFILES.
set -eu
src=$1
out=$2
exec xgettext --from-code=UTF-8 --keyword=Tr --keyword=N_ --add-comments=TRANSLATORS: \
  --package-name=zimbrel --msgid-bugs-address=https://zimbrel.org/ --sort-by-file \
  --directory="$src" --files-from="$src/po/POTFILES" --output="$out"
