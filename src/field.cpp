// Arithmetic modulo p of secp128r2: the operations that are not inlined.

#include "field.h"

namespace klarvex {

void fe_inv(std::uint32_t* r, const std::uint32_t* a) {
    assert(fe_detail::is_field_element(a));
    NN_ModInv(r, a, kSecp128r2.p, NUM_DIGITS);
}

}  // namespace klarvex
