#!/usr/bin/env bash
# The README lists every refusal of the two imports (kqdb import-employees, kqdb import-mdb)
# once, as the message words it, and nothing else: the list between its two marker lines is
# held against the texts the import code refuses with (the text handed to each refusal, "…"
# for what the code fills in), so that a refusal added, changed or removed in the code shows
# here until the README follows.
set -euo pipefail
readme="$1"
source_dir="$2"
begin='<!-- import refusals: checked by tests/readme/import_refusals.sh -->'
end='<!-- /import refusals -->'
files=(interchange/EmployeeImport.cpp interchange/CsvTable.cpp interchange/CsvReader.cpp interchange/AccessImport.cpp interchange/ColumnRules.cpp
  interchange/AccessFileHeader.cpp interchange/AccessSource.cpp interchange/AccessReaderProcess.cpp)
fail() { echo "FAIL: $*" >&2; exit 1; }

for f in "${files[@]}"; do [ -f "$source_dir/$f" ] || fail "$f is gone: name the files that hold the import's refusals here"; done

# The code's list: every text literal inside a call of a refusal helper (refuse, fail,
# damaged, cannotRead, an AccessFileError), and what the Access header check and the rules
# for a column (ColumnRules) return.
code="$(cd "$source_dir" && perl -CSD -Mutf8 -e '
  my %seen;
  for my $file (@ARGV) {
    open my $fh, "<:utf8", $file or die "$file: $!";
    local $/; my $src = <$fh>;
    $src =~ s{//[^\n]*}{}g;
    $src =~ s/"\s*\n\s*"//g;
    my @texts;
    while ($src =~ /\b(?:refuse|fail|damaged|cannotRead|AccessFileError)\s*\(/g) {
      my ($start, $depth, $i) = (pos($src), 1, pos($src));
      while ($i < length($src) && $depth > 0) {
        my $c = substr($src, $i, 1);
        if ($c eq "\"") { $i++; while (substr($src, $i, 1) ne "\"") { $i += substr($src, $i, 1) eq "\\" ? 2 : 1 } }
        $depth++ if $c eq "("; $depth-- if $c eq ")"; $i++;
      }
      my $call = substr($src, $start, $i - $start);
      push @texts, $1 while $call =~ /QStringLiteral\("((?:[^"\\]|\\.)*)"\)/g;
    }
    if ($file =~ /AccessFileHeader|ColumnRules/) { push @texts, $1 while $src =~ /return QStringLiteral\(\s*"((?:[^"\\]|\\.)*)"\)/g }
    for my $t (@texts) { $t =~ s/\\"/"/g; $t =~ s/%\d/…/g; print "$t\n" unless $seen{$t}++ }
  }' "${files[@]}" | sort)"
[ "$(grep -c . <<<"$code")" -ge 20 ] || fail "found only $(grep -c . <<<"$code") refusals in the code: has it moved?"

# The README's list: the first text in backticks of each item between the markers.
listed="$(awk -v b="$begin" -v e="$end" '$0 == e { inside = 0 } inside && /^- `/ { print } $0 == b { inside = 1 }' "$readme" |
  sed 's/^- `\([^`]*\)`.*/\1/')"
[ -n "$listed" ] || fail "no list between \"$begin\" and \"$end\" in the README"

twice="$(sort <<<"$listed" | uniq -d)"
[ -z "$twice" ] || fail "listed more than once:"$'\n'"$twice"
missing="$(comm -23 <(echo "$code") <(sort <<<"$listed"))"
stale="$(comm -13 <(echo "$code") <(sort <<<"$listed"))"
[ -z "$missing" ] || fail "refusals of the code the README does not list (add them, … for what is filled in):"$'\n'"$missing"
[ -z "$stale" ] || fail "the README lists refusals the code no longer makes:"$'\n'"$stale"
echo "import refusals: all $(grep -c . <<<"$code") listed once"
