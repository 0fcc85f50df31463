#!/usr/bin/env python3
"""Writes src/ecc_comb_table.h, the comb of the base point G of secp128r2:
row i holds the odd multiples (2j + 1) * 2^(W*i) * G for j = 0 .. 2^(W-1) - 1,
affine, as constant data of the library. k*G of signing adds one entry of
each row (ct_mul_base); verification takes u1*G from it too.

    python3 gen/comb_table.py            # rewrite src/ecc_comb_table.h
    python3 gen/comb_table.py --check    # fail if the committed file differs
    python3 gen/comb_table.py --width W  # another row width, for measuring

The rows cover every odd scalar below 2^127 (k + n or k itself, below 2n):
ROWS = ceil(127 / W). The test EccComb.TableHoldsTheOddMultiples checks the
committed table against the curve arithmetic.
"""

import argparse
import sys
from pathlib import Path

from secp128r2 import G, add, mul

OUT = Path(__file__).resolve().parent.parent / "src" / "ecc_comb_table.h"
WIDTH = 5


def words(v):
    """The two 64-bit words of v, least significant first, as C++ text."""
    return f"0x{v & (2**64 - 1):016X}, 0x{v >> 64:016X}"


def header(width):
    rows_n = -(-127 // width)
    entries = 2 ** (width - 1)
    rows = []
    for i in range(rows_n):
        base = mul(2 ** (width * i), G)
        point, double = base, mul(2, base)
        cells = [f"        // row {i}: (2j + 1) * 2^{width * i} * G"]
        for _ in range(entries):
            x, y = point
            cells.append(f"        {{{words(x)}, {words(y)}}},")
            point = add(point, double)
        rows.append("    {\n" + "\n".join(cells) + "\n    },")
    return f"""// Internal to the library, not installed. Written by gen/comb_table.py: do not
// edit. The comb of the base point G of secp128r2: row i holds the odd
// multiples (2j + 1) * 2^({width}*i) * G, j = 0 .. {entries - 1}, in affine
// coordinates, each as four 64-bit words: x, then y, least significant first.

#ifndef KLARVEX_ECC_COMB_TABLE_H
#define KLARVEX_ECC_COMB_TABLE_H

#include <cstdint>

namespace klarvex {{

// Bits of the scalar per row; rows, ceil(127 / COMB_WIDTH); entries per row,
// 2^(COMB_WIDTH - 1).
inline constexpr int COMB_WIDTH = {width};
inline constexpr int COMB_ROWS = {rows_n};
inline constexpr int COMB_ENTRIES = {entries};

inline constexpr std::uint64_t kCombTable[COMB_ROWS][COMB_ENTRIES][4] = {{
{chr(10).join(rows)}
}};

}}  // namespace klarvex

#endif  // KLARVEX_ECC_COMB_TABLE_H
"""


    return add(p1, p2)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--width", type=int, default=WIDTH)
    args = ap.parse_args()
    text = header(args.width)
    if args.check:
        if OUT.read_text() != text:
            sys.exit(f"{OUT} differs from what gen/comb_table.py writes")
        return
    OUT.write_text(text)


if __name__ == "__main__":
    main()
