// secp128r2 domain parameters and the multiplication by omega.

#include "secp128r2.h"

#include "secp128r2_data.h"

namespace klarvex {

void get_curve_param(CurveParams* para) {
    *para = kSecp128r2;
}

std::uint8_t omega_mul(std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* omega,
                       std::uint8_t digits) {
    // a = b*(w*2^96 + 1) = b + (w*b)*2^96, w = omega[3]
    NN_Assign(a, b, digits);
    a[digits + 3] += NN_AddDigitMult(a + 3, a + 3, omega[3], b, digits);
    return static_cast<std::uint8_t>(digits + 4);
}

}  // namespace klarvex
