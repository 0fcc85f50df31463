#!/usr/bin/env python3
"""Writes src/ecc_base_table.h, the window table of the base point G of
secp128r2 (j*G for j = 1..15, affine), as constant data of the library.

    python3 gen/base_table.py            # rewrite src/ecc_base_table.h
    python3 gen/base_table.py --check    # fail if the committed file differs

The test EccContext.BaseTableIsTheWindowTableOfG checks the committed table
against ecc_win_precompute.
"""

import sys
from pathlib import Path

from secp128r2 import G, mul

OUT = Path(__file__).resolve().parent.parent / "src" / "ecc_base_table.h"


def digits(v):
    """The five 32-bit digits of v, least significant first, as C++ text."""
    return "{" + ", ".join(f"0x{(v >> (32 * i)) & 0xFFFFFFFF:08X}" for i in range(5)) + "}"


def header():
    rows = []
    for j in range(1, 16):
        x, y = mul(j, G)
        rows.append(f"    {{{digits(x)},  // {j}*G\n     {digits(y)}}},")
    return f"""// Internal to the library, not installed. Written by gen/base_table.py: do not
// edit. The window table of the base point G of secp128r2 (ecc_win_precompute
// of G): entry j-1 holds j*G for j = 1..15 in affine coordinates, digits least
// significant first.

#ifndef KLARVEX_ECC_BASE_TABLE_H
#define KLARVEX_ECC_BASE_TABLE_H

#include "ecc.h"

namespace klarvex {{

inline constexpr Point kBaseTable[WINDOW_TABLE_SIZE] = {{
{chr(10).join(rows)}
}};

}}  // namespace klarvex

#endif  // KLARVEX_ECC_BASE_TABLE_H
"""


def main():
    text = header()
    if sys.argv[1:] == ["--check"]:
        if OUT.read_text() != text:
            sys.exit(f"{OUT} differs from what gen/base_table.py writes")
        return
    OUT.write_text(text)


if __name__ == "__main__":
    main()
