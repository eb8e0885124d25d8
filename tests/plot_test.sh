#!/usr/bin/env bash
# End-to-end tests of wavproc-plot: plot_test.sh CASE WAVPROC WAVPROC_PLOT, CASE one of
#   example  the pictures of the bundled example's files (PNG, SVG, PDF), in a folder with a blank
#   gaps     asterisk, NaN and zero fields leave gaps; asterisk times and frequencies get a step axis
#   errors   each refused call: its message on standard error, its status, no picture left
set -euo pipefail
case=$1 wavproc=$(realpath "$2") plot=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
for tool in gnuplot xmllint; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not found (Debian: gnuplot-nox, libxml2-utils)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

expect() {  # expect WHAT ACTUAL EXPECTED
  if [[ $2 != "$3" ]]; then
    printf 'FAIL: %s\n  got:      %s\n  expected: %s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}

# The points of one curve of an SVG picture, and its segments (a gap starts a new one), as
# "points segments"; a curve with a legend entry carries the entry's short line as one more segment.
curve() {  # curve SVG ID
  xmllint --xpath "//*[local-name()='g'][@id='gnuplot_plot_$2']//*[local-name()='path']/@d" "$1" 2>/dev/null |
    awk '{ segments += gsub(/M/, ""); points += gsub(/[-0-9.]+,[-0-9.]+/, "") } END { print points + 0, segments + 0 }'
}

# The rows of a file whose field COLUMN holds a value other than asterisks, NaN, Inf (or zero, with NONZERO).
rows_with_value() {  # rows_with_value FILE COLUMN [NONZERO]
  awk -F, -v c="$2" -v nonzero="${3:-}" 'NR > 1 && $c !~ /[*NI]/ && !(nonzero && $c + 0 == 0) { n++ } END { print n + 0 }' "$1"
}

case $case in
example)
  mkdir "my run"
  cp "$here/../examples/record.txt" "my run/"
  (cd "my run" && "$wavproc" <"$here/../examples/answers.txt" >/dev/null)
  expect "PNG pictures named after the files" "$("$plot" "my run/velocity.csv" "my run/amp2.csv")" \
    "$(printf 'my run/velocity.png\nmy run/amp2.png')"
  for picture in "my run/velocity.png" "my run/amp2.png"; do
    expect "$picture: PNG signature, 1200 x 800" "$(od -An -tx1 -N24 "$picture" | tr -d ' \n')" \
      89504e470d0a1a0a0000000d49484452000004b000000320
  done
  expect "PDF on request, by the picture's ending" "$("$plot" -s "my run/spectrum.pdf" "my run/amp2.csv" &&
    head -c 5 "my run/spectrum.pdf")" "$(printf 'my run/spectrum.pdf\n%%PDF-')"
  "$plot" --format=svg "my run/amp2.csv" "my run/velocity.csv" >/dev/null
  for picture in "my run/velocity.svg" "my run/amp2.svg"; do
    expect "$picture is well-formed" "$(xmllint --noout "$picture" 2>&1)" ""
  done
  rows=$(($(wc -l <"my run/velocity.csv") - 1))
  expect "waveform: two panels, every sample" "$(curve "my run/velocity.svg" 1a; curve "my run/velocity.svg" 1b;
    curve "my run/velocity.svg" 2)" "$(printf '%s 1\n%s 1\n0 0' "$rows" "$rows")"
  expect "spectrum: two curves, nonzero amplitudes, legend entries" "$(curve "my run/amp2.svg" 1; curve "my run/amp2.svg" 2;
    curve "my run/amp2.svg" 3)" "$(printf '%s 2\n%s 2\n0 0' "$(($(rows_with_value "my run/amp2.csv" 2 nonzero) + 2))" \
    "$(($(rows_with_value "my run/amp2.csv" 3 nonzero) + 2))")"
  expect "legend and panel titles from the headers" \
    "$(grep -o '<text>[^<]*(gal)</text>' "my run/amp2.svg" "my run/velocity.svg" | sort | uniq -c | tr -s ' ')" \
    "$(printf ' 1 my run/amp2.svg:<text>EW(gal)</text>\n 1 my run/amp2.svg:<text>NS(gal)</text>\n 1 my run/velocity.svg:<text>EW(gal)</text>\n 1 my run/velocity.svg:<text>NS(gal)</text>')"
  expect "files left" "$(ls "my run" | tr '\n' ' ')" \
    "amp2.csv amp2.png amp2.svg record.txt spectrum.pdf velocity.csv velocity.png velocity.svg "
  ;;
gaps)
  # Asterisk times from the third row on: the axis is the row index times 50 s, from the
  # readable rows 0 and 50. Row 1 of A and row 2 of B cannot be drawn.
  cat >w.csv <<'EOF'
 time(s),A                   ,B                   
 0.000,      1.0000,      1.0000,      0.0000,
50.000,************,      2.0000,      0.0000,
******,      3.0000,         NaN,      0.0000,
******,      4.0000,         Inf,      0.0000,
******,      5.0000,      5.0000,      0.0000,
EOF
  # Zero amplitudes are left out like asterisks; an exponent of three digits has no "E".
  cat >s.csv <<'EOF'
 frequency(Hz),A                   ,B                   
  0.5000,  0.1000E+01,  0.0000E+00,
  1.0000,  0.1500-119,  0.2000E+01,
  1.5000,  0.0000E+00,  0.3000E+01,
  2.0000,  0.4000E+01,         NaN,
********,  0.5000E+01,  0.5000E+01,
EOF
  "$plot" -f svg w.csv s.csv >/dev/null
  expect "waveform: points and segments of each panel" "$(curve w.svg 1a; curve w.svg 1b)" "$(printf '4 2\n3 2')"
  expect "spectrum: points and segments of each curve, legend line included" "$(curve s.svg 1; curve s.svg 2)" \
    "$(printf '6 3\n5 3')"
  expect "the time axis ends at 4 x 50 s" "$(grep -o '>200<' w.svg)" ">200<"
  expect "the lowest amplitude is 1.5e-120" "$(grep -c '>-120<' s.svg)" 1
  expect "notes on the axes" "$(grep -ho '[A-Z][a-z]* from 1[0-9]* [Hzs]* on are asterisks[^<]*' w.svg s.svg)" \
    "$(printf '%s\n%s' "Times from 100 s on are asterisks in the file: the time axis is the sample index times 50 s, the step of the readable rows." \
      "Frequencies from 1000 Hz on are asterisks in the file: the frequency axis is the line number times 0.5 Hz, the step of the readable rows.")"
  ;;
errors)
  printf ' time(s),A                   ,B                   \n 0.000,      1.0000,      1.0000,      0.0000,\n' >w.csv
  printf ' frequency(Hz),A                   ,B                   \n  0.5000,  0.1000E+01,  0.1000E+01,\n' >amp2.csv
  { cat w.csv; echo ' 0.010,      1.0000,      1.0000,      0.0000'; } >cut.csv
  head -n 1 w.csv >header.csv
  cp w.csv w2.csv
  mkdir folder
  while IFS='|' read -r status message args; do
    eval "set -- $args"
    actual=$("$plot" "$@" 2>&1 >/dev/null | tail -n 1) && code=0 || code=$?
    expect "wavproc-plot $args" "$code $actual" "$status $message"
  done <<'EOF'
1|wavproc-plot: nosuch.csv: no such file|nosuch.csv
1|wavproc-plot: folder: not a regular file|folder
1|wavproc-plot: header.csv: the file holds no rows to draw|header.csv
1|wavproc-plot: cut.csv: not a wavproc waveform file nor an amp2.csv spectrum file (line 3)|cut.csv
1|wavproc-plot: two waveform files given: one of each kind at most|w.csv w2.csv
1|wavproc-plot: amp2.csv: the picture would replace the data file amp2.csv; name it with -w or -s|-w amp2.csv w.csv amp2.csv
1|wavproc-plot: p.png: both pictures would go to the same file|-w p.png -s p.png w.csv amp2.csv
1|wavproc-plot: w.csv: gnuplot could not draw nofolder/w.png|-w nofolder/w.png w.csv
2|wavproc-plot: unknown format 'gif': png, svg or pdf|-f gif w.csv
2|wavproc-plot: unknown option -x (see --help)|-x w.csv
2|wavproc-plot: give a waveform file, amp2.csv or a record, one of each at most (see --help)|
EOF
  actual=$(GNUPLOT=/nonexistent/gnuplot "$plot" w.csv 2>&1) && code=0 || code=$?
  expect "gnuplot missing" "$code $actual" \
    "1 wavproc-plot: gnuplot not found (/nonexistent/gnuplot): install it, e.g. with 'apt-get install gnuplot-nox' (Debian package gnuplot-nox)"
  if ((EUID != 0)); then
    chmod 000 w.csv
    actual=$("$plot" w.csv 2>&1) && code=0 || code=$?
    expect "unreadable file" "$code $actual" "1 wavproc-plot: w.csv: cannot be read (permission denied)"
    chmod 644 w.csv
  fi
  expect "--help" "$("$plot" --help | head -n 1)" "Usage: wavproc-plot [options] WAVEFORM.csv [SPECTRUM.csv] [RECORD]"
  expect "no picture left by a refused call" "$(ls | tr '\n' ' ')" "amp2.csv cut.csv folder header.csv w.csv w2.csv "
  ;;
*) echo "unknown case $case"; exit 2 ;;
esac
((failures == 0)) && echo "plot $case: passed"
exit $((failures != 0))
