#!/usr/bin/env bash
# fuzz/run.sh [SECONDS]: builds the fuzz preset and runs each fuzz target for
# SECONDS seconds (default 60), one after the other, from the committed seeds
# in fuzz/corpus/<target>/ plus what earlier runs found (kept in
# build/fuzz/run/corpus/). Prints the executions per target; a target that
# finds a fault leaves its input in build/fuzz/run/ and the script fails.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target nn_fuzz sha1_fuzz verify_fuzz tool_fuzz

run=$root/build/fuzz/run
failed=()
for target in nn sha1 verify tool; do
    corpus=$run/corpus/$target
    mkdir -p "$corpus"
    cp fuzz/corpus/$target/* "$corpus/"
    log=$run/$target.log
    : >"$log"
    status=ok
    args=()
    if [ $target = tool ]; then
        # Once each, outside the corpus (they would slow every later run):
        # 65,535 bytes, the longest MESSAGE an argument can carry (131,071
        # characters), and one byte past the limit.
        long=()
        for len in 131070 131071 131072; do
            head -c $len /dev/zero | tr '\0' 'a' >"$run/hex_$len"
            long+=("$run/hex_$len")
        done
        build/fuzz/fuzz/tool_fuzz "${long[@]}" >>"$log" 2>&1 || status=FAILED
        args+=(-max_len=140000)
    fi
    build/fuzz/fuzz/${target}_fuzz "${args[@]}" -max_total_time="$seconds" -timeout=20 \
        -print_final_stats=1 -artifact_prefix="$run/$target-" "$corpus" >>"$log" 2>&1 ||
        status=FAILED
    if [ $status = FAILED ]; then
        failed+=("$target")
        tail -n 40 "$log"
    fi
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    printf '%-7s %-6s %12s executions in %ss (log: %s)\n' "$target" "$status" "${execs:-?}" \
        "$seconds" "${log#"$root"/}"
done

echo "fuzz: $((4 - ${#failed[@]})) passed, ${#failed[@]} failed"
if ((${#failed[@]})); then
    echo "failed: ${failed[*]}"
    exit 1
fi
