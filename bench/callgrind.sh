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
    log=$(mktemp)
    { cmake --preset bench && cmake --build --preset bench -j 2; } >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
    rm -f "$log"
fi

bin=build/bench/klarvex
out=build/bench/callgrind
mkdir -p "$out"

total() {
    awk '/^totals:/ { print $2 }' "$1"
}
# awk helper: n with thousands separators.
COMMAS='function commas(n,  s, r) {
    s = sprintf("%d", n); r = ""
    while (length(s) > 3) { r = "," substr(s, length(s) - 2) r; s = substr(s, 1, length(s) - 3) }
    return s r
}'
# Top N functions of an annotate listing; argument lists, object names and
# clone suffixes dropped, the frames around main skipped. A function can be listed once per source file that gave it code:
# self costs of its entries add up, inclusive costs repeat (take the largest).
top_functions() {
    awk -v merge="$2" '
        /file:function/ { body = 1; next }
        body && $1 ~ /^[0-9,]+$/ {
            n = $1; gsub(",", "", n)
            name = $0; sub(/^ *[0-9,]+ +(\([^)]*\) +)?/, "", name)
            sub(/ \[[^]]*\]$/, "", name); sub(/ \[clone [^]]*\]$/, "", name); sub(/^[^:]*:/, "", name)
            if (name ~ /^(main|\(below main\)|__libc_start_main|0x[0-9a-f]+|klarvex::klarvex_main\()/) next
            sub(/\([^()]*\)( const)?$/, "", name)
            if (merge == "sum") cost[name] += n; else if (n > cost[name]) cost[name] = n
        }
        END { for (f in cost) printf "%d\t%s\n", cost[f], f }' "$1" |
        sort -t$'\t' -k1,1nr | head -n "$top" |
        awk -F'\t' -v all="$3" "$COMMAS"'
            { printf "  %13s  %5.1f%%  %s\n", commas($1), 100 * $1 / all, $2 }'
}

# Counters are dumped and reset on entry to main and to ecc_init and on return
# from each of the three phases: parts 1 to 5 in run.out.1..5, the remainder in
# run.out. (The few instructions of main between the calls go to the phase
# after them.)
rm -f "$out"/run.out*
valgrind --tool=callgrind --callgrind-out-file="$out/run.out" \
    --dump-before=main --dump-before='klarvex::ecc_init()' --dump-after='klarvex::ecc_init()' \
    --dump-after='klarvex::ecdsa_init(*' --dump-after='klarvex::ecdsa_sign(*' \
    "$bin" "$msg" >"$out/run.stdout" 2>"$out/run.log"
for i in 1 2 3 4 5; do
    [[ -f $out/run.out.$i ]] || { echo "callgrind.sh: no part $i; see $out/run.log" >&2; exit 1; }
done

echo "klarvex $msg -> $(cat "$out/run.stdout")"
echo
awk -v a="$(total "$out/run.out.1")" -v b="$(total "$out/run.out.2")" -v c="$(total "$out/run.out.3")" \
    -v d="$(total "$out/run.out.4")" -v e="$(total "$out/run.out.5")" -v f="$(total "$out/run.out")" \
    "$COMMAS"'
    function row(what, n) { printf "%-44s %13s %6.1f%%\n", what, commas(n), 100 * n / all }
    BEGIN {
        all = a + b + c + d + e + f
        printf "%-44s %13s %7s\n", "phase", "instructions", "share"
        row("start-up: loader and C++ runtime (to main)", a)
        row("start-up: main up to ecc_init", b)
        row("ecc_init", c)
        row("ecdsa_init", d)
        row("ecdsa_sign", e)
        row("exit (printing the signature, clean-up)", f)
        row("whole run", all)
    }'

# The profile comes from a second run that counts only inside ecdsa_sign (the
# partial dumps above would charge the frames still open around it).
sign=$out/sign.out
valgrind --tool=callgrind --callgrind-out-file="$sign" --toggle-collect='klarvex::ecdsa_sign(*' \
    "$bin" "$msg" >/dev/null 2>"$out/sign.log"
callgrind_annotate --auto=no --threshold=100 "$sign" >"$out/sign.self.txt"
callgrind_annotate --auto=no --inclusive=yes --threshold=100 "$sign" >"$out/sign.inclusive.txt"
signall=$(total "$sign")
echo
echo "ecdsa_sign profile (second run, $(awk -v n="$signall" "$COMMAS"' BEGIN { print commas(n) }') instructions)"
echo "top $top functions by self cost:"
top_functions "$out/sign.self.txt" sum "$signall"
echo
echo "top $top functions by inclusive cost:"
top_functions "$out/sign.inclusive.txt" max "$signall"
