#!/usr/bin/env bash
# The README's table of contents lists every section and subsection ("## " and "### "
# headings) in order, each linked by the anchor a Markdown viewer gives it, so that a
# section someone adds later cannot be left out. On a mismatch it prints the list to paste
# between the two marker lines.
set -euo pipefail
readme="$1"
begin='<!-- contents: checked by tests/readme/contents.sh -->'
end='<!-- /contents -->'

expected="$(perl -CSD -Mutf8 -ne '
  next unless /^(##|###) (.+?)\s*$/;
  my ($level, $title) = ($1, $2);
  my $anchor = lc $title;
  $anchor =~ s/[^\w\- ]//g;
  $anchor =~ s/ /-/g;
  my $text = $title;
  $text =~ s/`//g;
  print(($level eq "###" ? "  " : ""), "- [$text](#$anchor)\n");
' "$readme")"
actual="$(awk -v b="$begin" -v e="$end" '$0 == e { inside = 0 } inside && NF { print } $0 == b { inside = 1 }' "$readme")"

[ -n "$expected" ] || { echo "FAIL: no sections found in $readme" >&2; exit 1; }
if [ "$actual" != "$expected" ]; then
  echo "FAIL: the README's contents do not match its sections; between the lines" >&2
  echo "$begin" >&2
  echo "and $end it should read:" >&2
  echo "$expected" >&2
  echo "--- difference (listed < , sections >):" >&2
  diff <(echo "$actual") <(echo "$expected") >&2 || true
  exit 1
fi
echo "contents: $(grep -c . <<<"$expected") sections listed, in order"
