#!/usr/bin/env python3
"""Build the bench preset, run klarvex_bench and compare klarvex with OpenSSL and libsecp256k1.

    python3 bench/compare.py                  # build, run 5 repetitions, print the table
    python3 bench/compare.py --no-build -r 10
    python3 bench/compare.py --json FILE      # only print the table of an earlier run

Each case runs --repetitions times in one process, in random interleaved
order; the table gives the median of the repetitions (real time per call) of
BM_klarvex_X beside BM_openssl_X and, for sign and verify where the benchmark
was built with libsecp256k1, BM_secp256k1_X, the ratios (above 1 where
klarvex is slower) and the spread of the repetitions. The raw JSON is kept
(build/bench/klarvex_bench.json by default).
"""

import argparse
import json
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
BINARY = BUILD / "bench" / "klarvex_bench"

# The headline rows, then the other pairs, in this order.
MAIN = [
    ("sign", "ECDSA sign"),
    ("sign_64k", "ECDSA sign, 64 KiB message"),
    ("verify", "ECDSA verify"),
    ("mul_base", "k*G (constant time)"),
    ("sha1/64", "SHA-1, 64 B"),
    ("sha1/65536", "SHA-1, 64 KiB"),
    ("sha1_portable/64", "SHA-1 portable, 64 B", "sha1/64"),
    ("sha1_portable/65536", "SHA-1 portable, 64 KiB", "sha1/65536"),
]
OTHER = [
    ("mul", "k*P (window table / ladder)"),
    ("field_mul", "mul mod p (fe_mul / BN_mod_mul)"),
    ("field_sqr", "sqr mod p (fe_sqr / BN_mod_sqr)"),
    ("modmul_n", "mul mod n (NN_ModMult / BN_mod_mul)"),
    ("modinv_p", "inverse mod p (fe_inv)"),
    ("modinv_n", "inverse mod n (NN_ModInv)"),
]
SOLO = {
    "klarvex/sign_var": "ECDSA sign, variable-time operations",
    "klarvex/verify_var": "ECDSA verify, ecc_win_mul_base + ecc_win_mul",
    "klarvex/mul_base_var": "k*G, ecc_win_mul_base (variable time)",
    "klarvex/modmul_n_ct": "mul mod n, sc_mul (constant time)",
    "klarvex/modinv_p_ct": "inverse mod p, fe_inv_ct (Fermat)",
    "klarvex/modinv_n_ct": "inverse mod n, sc_inv (Fermat)",
    "klarvex/field_mul_fold": "mul mod p, NN_ModMultOpt (the fold)",
    "klarvex/dbl4": "ecc_m_dbl_projective, m = 4",
    "klarvex/add_mixed": "ecc_add_proj with Z2 = 1",
    "klarvex/add_affine": "ecc_add (affine)",
    "klarvex/ecdsa_init": "ecdsa_init",
    "openssl/field_mul_mont": "BN_mod_mul_montgomery mod p",
}

NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def run(cmd):
    print("+", " ".join(str(c) for c in cmd), flush=True)
    if subprocess.run(cmd, cwd=ROOT).returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}")


def medians(report):
    """({case: ns, None if it failed}, {case: coefficient of variation}) from a JSON report."""
    found, cv, single = {}, {}, {}
    for b in report["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            found[name] = None
            continue
        ns = b["real_time"] * NS[b.get("time_unit", "ns")]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                found[name] = ns
            elif b.get("aggregate_name") == "cv":
                cv[name] = b["real_time"]
        else:
            single.setdefault(name, []).append(ns)
    for name, times in single.items():  # runs without aggregates (one repetition)
        if name not in found:
            times.sort()
            found[name] = times[len(times) // 2]
    return found, cv


def fmt(ns):
    if ns is None:
        return "error"
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}" if ns / scale < 100 else f"{ns / scale:.0f} {unit}"
    return f"{ns:.3g} ns" if ns < 100 else f"{ns:.0f} ns"


def table(report, path):
    t, cv = medians(report)
    ctx = report.get("context", {})
    reps = max((b.get("repetitions", 1) for b in report["benchmarks"]), default=1)
    print()
    peers = ctx.get("openssl", "OpenSSL") + (" and libsecp256k1" if "secp256k1" in ctx else "")
    print(f"klarvex vs {peers}, secp128r2; median of {reps} repetitions")
    if path.is_relative_to(ROOT):
        path = path.relative_to(ROOT)
    print(f"({path}; {ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz)")
    print(f"klarvex's SHA-1 runs on: {ctx.get('klarvex_sha1', '?')}")
    check = ctx.get("klarvex_self_check", "missing")
    if check != "ok":
        print(f"WARNING: klarvex self-check: {check}")
    if ctx.get("cpu_scaling_enabled"):
        print("note: CPU frequency scaling is enabled; timings may be noisy")

    width = max(len(label) for label in [row[1] for row in MAIN + OTHER] + list(SOLO.values()))
    secp = any(name.startswith("BM_secp256k1_") for name in t)
    head = (f"{'operation':<{width}}  {'klarvex':>10}  {'OpenSSL':>10}  {'klarvex/OpenSSL':>15}"
            + (f"  {'secp256k1':>10}  {'klarvex/secp256k1':>17}" if secp else "")
            + f"  {'spread':>9}")
    print()
    print(head)
    print("-" * len(head))

    def cell(name):
        return fmt(t[name]) if name in t else "-"

    def spread(*names):
        c = [cv[n] for n in names if n in cv]
        return f"{100 * max(c):.0f}%" if c else ""

    def ratio(k, o):
        return f"{t[k] / t[o]:.2f}" if t.get(k) and t.get(o) else "-"

    def pairs(rows):
        lines = []
        for case, label, *peer in rows:
            k, o = "BM_klarvex_" + case, "BM_openssl_" + (peer[0] if peer else case)
            s = "BM_secp256k1_" + case
            if k in t or o in t:
                third = f"  {cell(s):>10}  {ratio(k, s):>17}" if secp else ""
                lines.append(f"{label:<{width}}  {cell(k):>10}  {cell(o):>10}  {ratio(k, o):>15}"
                             f"{third}  {spread(k, o, s):>9}")
        return lines

    solo = []
    for key, label in SOLO.items():
        side, case = key.split("/", 1)
        name = f"BM_{side}_{case}"
        if name in t:
            k, o = (cell(name), "") if side == "klarvex" else ("", cell(name))
            third = f"  {'':>10}  {'':>17}" if secp else ""
            solo.append(f"{label:<{width}}  {k:>10}  {o:>10}  {'':>15}{third}  {spread(name):>9}")
    blocks = [b for b in (pairs(MAIN), pairs(OTHER), solo) if b]
    print("\n\n".join("\n".join(b) for b in blocks))
    if cv and max(cv.values()) > 0.05:
        print("\nspread: the larger coefficient of variation of the pair over the repetitions;"
              "\nabove a few per cent the machine was busy: rerun when it is idle, or with more -r.")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-r", "--repetitions", type=int, default=5)
    ap.add_argument("--min-time", type=float, help="seconds per repetition (benchmark default 0.5)")
    ap.add_argument("--filter", help="regex of cases to run (benchmark_filter)")
    ap.add_argument("--no-build", action="store_true", help="run the binary as it is")
    ap.add_argument("--jobs", type=int, default=2, help="parallel build jobs (default 2)")
    ap.add_argument("--out", type=Path, default=BUILD / "klarvex_bench.json", help="JSON output")
    ap.add_argument("--json", type=Path, help="print the table of this JSON report, run nothing")
    ap.add_argument("-v", "--verbose", action="store_true", help="show the benchmark's own output")
    args = ap.parse_args()
    args.out = args.out.resolve()

    if args.json:
        table(json.loads(args.json.read_text()), args.json.resolve())
        return

    if not args.no_build:
        run(["cmake", "--preset", "bench"])
        run(["cmake", "--build", "--preset", "bench", "-j", str(args.jobs)])
    cmd = [
        BINARY,
        f"--benchmark_repetitions={args.repetitions}",
        "--benchmark_report_aggregates_only=true",
        "--benchmark_enable_random_interleaving=true",
        f"--benchmark_out={args.out}",
        "--benchmark_out_format=json",
    ]
    if args.min_time is not None:
        cmd.append(f"--benchmark_min_time={args.min_time}")
    if args.filter:
        cmd.append(f"--benchmark_filter={args.filter}")
    print(f"running klarvex_bench, {args.repetitions} repetitions (two or three minutes) ...",
          flush=True)
    quiet = None if args.verbose else subprocess.PIPE
    res = subprocess.run([str(c) for c in cmd], cwd=ROOT, stdout=quiet, stderr=quiet, text=True)
    if res.returncode != 0:
        sys.stderr.write(res.stderr or "")
        sys.exit(f"klarvex_bench failed with status {res.returncode}")
    table(json.loads(args.out.read_text()), args.out)


if __name__ == "__main__":
    main()
