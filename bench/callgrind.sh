#!/usr/bin/env bash
# Instruction counts of one whole `klarvex MESSAGE` run under callgrind, split
# into the library's three phases and the rest of the process, followed by the
# functions that dominate ecdsa_sign (a second run that counts only inside it).
#
#   bench/callgrind.sh [--no-build] [--top N] [MESSAGE]     (MESSAGE defaults to 616263)
#
# Uses the bench preset's build (release with -g, so the names resolve). The
# tool seeds its nonces from the clock, so counts move slightly between runs.
# Raw callgrind files are kept in build/bench/callgrind/.
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
top=12
msg=616263
while (($#)); do
    case "$1" in
    --no-build) build=0 ;;
    --top) top=$2; shift ;;
    -h | --help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) msg=$1 ;;
    esac
    shift
done

for tool in valgrind callgrind_annotate; do
    command -v "$tool" >/dev/null || { echo "callgrind.sh: $tool not found (apt-get install valgrind)" >&2; exit 1; }
done
if ((build)); then
    cmake --preset bench >/dev/null
    cmake --build --preset bench -j 2 >/dev/null
fi

bin=build/bench/klarvex
out=build/bench/callgrind
mkdir -p "$out"

# Sum of the counts of every entry of a function (callgrind_annotate lists a
# function once per source file that contributed code to it).
count() {
    awk -v fn="$2" 'BEGIN { re = ":" fn "\\([^()]*\\)( \\[|$)" }
        $0 ~ re { gsub(",", "", $1); s += $1 } END { printf "%d\n", s }' "$1"
}
total() {
    awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1; exit }' "$1"
}
# awk helper: n with thousands separators.
COMMAS='function commas(n,  s, r) {
    s = sprintf("%d", n); r = ""
    while (length(s) > 3) { r = "," substr(s, length(s) - 2) r; s = substr(s, 1, length(s) - 3) }
    return s r
}'
# Top N functions of an annotate listing, entries of one function merged,
# object names dropped.
top_functions() {
    awk '
        /file:function/ { body = 1; next }
        body && $1 ~ /^[0-9,]+$/ {
            n = $1; gsub(",", "", n)
            name = $0; sub(/^ *[0-9,]+ +(\([^)]*\) +)?/, "", name); sub(/ \[[^]]*\]$/, "", name)
            sub(/^[^:]*:/, "", name)
            cost[name] += n
        }
        END { for (f in cost) printf "%d\t%s\n", cost[f], f }' "$1" |
        sort -t$'\t' -k1,1nr | head -n "$3" |
        awk -F'\t' -v all="$2" "$COMMAS"'
            { printf "  %13s  %5.1f%%  %s\n", commas($1), 100 * $1 / all, $2 }'
}

valgrind --tool=callgrind --callgrind-out-file="$out/run.out" "$bin" "$msg" \
    >"$out/run.stdout" 2>"$out/run.log"
callgrind_annotate --inclusive=yes --threshold=100 "$out/run.out" >"$out/run.inclusive.txt"

all=$(total "$out/run.inclusive.txt")
ecc=$(count "$out/run.inclusive.txt" klarvex::ecc_init)
init=$(count "$out/run.inclusive.txt" klarvex::ecdsa_init)
sign=$(count "$out/run.inclusive.txt" klarvex::ecdsa_sign)

echo "klarvex $msg -> $(cat "$out/run.stdout")"
echo
awk -v all="$all" -v ecc="$ecc" -v init="$init" -v sign="$sign" "$COMMAS"'
    function row(what, n) { printf "%-38s %15s %6.1f%%\n", what, commas(n), 100 * n / all }
    BEGIN {
        printf "%-38s %15s %7s\n", "phase (inclusive counts)", "instructions", "share"
        row("start-up and exit (everything else)", all - ecc - init - sign)
        row("ecc_init", ecc)
        row("ecdsa_init", init)
        row("ecdsa_sign", sign)
        row("whole run", all)
    }'

# Second run: collect only while inside ecdsa_sign.
valgrind --tool=callgrind --callgrind-out-file="$out/sign.out" \
    --toggle-collect='klarvex::ecdsa_sign(*' "$bin" "$msg" >/dev/null 2>"$out/sign.log"
callgrind_annotate --threshold=100 "$out/sign.out" >"$out/sign.self.txt"
callgrind_annotate --inclusive=yes --threshold=100 "$out/sign.out" >"$out/sign.inclusive.txt"
signall=$(total "$out/sign.self.txt")

echo
echo "ecdsa_sign alone (a second run): $(awk -v n="$signall" "$COMMAS"' BEGIN { print commas(n) }') instructions"
echo "top $top by self cost:"
top_functions "$out/sign.self.txt" "$signall" "$top"
echo
echo "top $top by inclusive cost:"
top_functions "$out/sign.inclusive.txt" "$signall" "$top"
