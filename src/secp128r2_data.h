// Internal to the library, not installed: the secp128r2 domain parameters as
// constant data. get_curve_param copies them; the field, curve and ECDSA
// modules read them in place, so nothing has to be filled before use.

#ifndef KLARVEX_SECP128R2_DATA_H
#define KLARVEX_SECP128R2_DATA_H

#include "secp128r2.h"

namespace klarvex {

// SEC 2 (version 1.0, 2000), section 2.3.2: Recommended Parameters secp128r2.
// Digits least significant first; digit 4 is 0.
inline constexpr CurveParams kSecp128r2 = {
    // p = 2^128 - 2^97 - 1
    {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFD, 0},
    // omega = 2^128 - p = 2^97 + 1
    {0x00000001, 0x00000000, 0x00000000, 0x00000002, 0},
    // a
    {0xBFF9AEE1, 0xBF59CC9B, 0xD1B3BBFE, 0xD6031998, 0},
    // b
    {0xBB6D8A5D, 0xDC2C6558, 0x80D02919, 0x5EEEFCA3, 0},
    0,  // a_minus3
    0,  // a_zero
    {
        {0xCDEBC140, 0xE6FB32A7, 0x5E572983, 0x7B6AA5D8, 0},  // G.x
        {0x5FC34B44, 0x7106FE80, 0x894D3AEE, 0x27B6916A, 0},  // G.y
    },
    // n, the order of G (126 bits)
    {0x0613B5A3, 0xBE002472, 0x7FFFFFFF, 0x3FFFFFFF, 0},
};

}  // namespace klarvex

#endif  // KLARVEX_SECP128R2_DATA_H
