#!/bin/sh
# Checks the manual pages in MAN_DIR: groff renders each without a warning,
# and every option that hearkener's usage text or --help output or
# tapd-emu's --help names has its own entry in the program's page.
# Exit 77 (skipped) without groff.
#
# Usage: man_pages_check.sh MAN_DIR HEARKENER TAPD_EMU
set -u
man=$1
hearkener=$2
tapd_emu=$3
command -v groff >/dev/null || { echo "no groff"; exit 77; }
status=0

for page in "$man"/*.1; do
  warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"
    status=1
  fi
done

# An entry is ".B \-x" or ".BI \-x ..." (roff escapes each '-').
has_entry() {
  escaped=$(printf '%s' "$2" | sed 's/-/\\\\-/g')
  grep -Eq "^\.BI? $escaped( |\$)" "$1"
}

options=$("$hearkener" 2>&1 | sed -n 's/^\t\(-[a-zA-Z]\) .*/\1/p')
[ -n "$options" ] || { echo "no options in hearkener's usage text"; status=1; }
more=$("$hearkener" --help | sed -n 's/^\t\(-[a-zA-Z?]\|--[a-z-]*\)[ ,].*/\1/p')
[ -n "$more" ] || { echo "no options in hearkener --help"; status=1; }
for option in $options $more; do
  has_entry "$man/hearkener.1" "$option" \
    || { echo "hearkener.1 has no entry for $option"; status=1; }
done

options=$("$tapd_emu" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
[ -n "$options" ] || { echo "no options in tapd-emu --help"; status=1; }
for option in $options; do
  has_entry "$man/tapd-emu.1" "$option" \
    || { echo "tapd-emu.1 has no entry for $option"; status=1; }
done
exit $status
