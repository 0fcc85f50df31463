// The multi-precision layer against OpenSSL's BIGNUM. The first byte picks
// the operation, the second how outputs share arrays with inputs; counts and
// operands follow. Each operand is raw fuzzer bytes or, by its selector byte,
// p or n plus a small offset, 2^k - 1 or 2^k, cut to its digit count.
// Operands are brought into each operation's contract before the call.

#include <openssl/bn.h>

#include <algorithm>
#include <cstdint>

#include "nn.h"
#include "support.h"

namespace klarvex::fuzz {
namespace {

constexpr std::uint32_t M = 0xFFFFFFFF;
constexpr std::uint32_t kP[NUM_DIGITS] = {M, M, M, 0xFFFFFFFD, 0};
constexpr std::uint32_t kOmega[NUM_DIGITS] = {1, 0, 0, 2, 0};
constexpr std::uint32_t kN[NUM_DIGITS] = {0x0613B5A3, 0xBE002472, 0x7FFFFFFF, 0x3FFFFFFF, 0};

// Enough digits for any count used here.
constexpr int MAX = 32;
using Num = std::uint32_t[MAX];

BN_CTX* ctx() {
    static BN_CTX* c = BN_CTX_new();
    return c;
}

void operand(Reader& in, std::uint32_t* a, int digits) {
    std::fill_n(a, MAX, 0u);
    const std::uint8_t sel = in.byte();
    if ((sel & 7) < 4) {
        in.fill(a, digits);
        return;
    }
    Bn x = new_bn();
    switch (sel & 7) {
        case 4:
        case 5: {
            x = to_bn((sel & 7) == 4 ? kP : kN, NUM_DIGITS);
            const int delta = static_cast<std::int8_t>(in.byte());
            if (delta >= 0) BN_add_word(x.get(), static_cast<BN_ULONG>(delta));
            if (delta < 0) BN_sub_word(x.get(), static_cast<BN_ULONG>(-delta));
            break;
        }
        case 6:
            BN_set_bit(x.get(), static_cast<int>(in.byte() % (32 * digits + 1)));
            BN_sub_word(x.get(), 1);
            break;
        default:
            BN_set_bit(x.get(), static_cast<int>(in.byte() % (32 * digits + 1)));
            break;
    }
    BN_mask_bits(x.get(), 32 * digits);
    from_bn(a, digits, x.get());
}

// x mod m for a nonzero m, in place.
void reduce(std::uint32_t* x, const std::uint32_t* m, int digits) {
    Bn bx = to_bn(x, digits), bm = to_bn(m, digits);
    BN_nnmod(bx.get(), bx.get(), bm.get(), ctx());
    from_bn(x, digits, bx.get());
}

void nonzero(std::uint32_t* x, int digits) {
    if (std::all_of(x, x + digits, [](std::uint32_t d) { return d == 0; })) x[0] = 1;
}

void check(const std::uint32_t* got, int digits, const BIGNUM* want, const char* op,
           const std::uint32_t* x, const std::uint32_t* y, int n) {
    if (equals(got, digits, want)) return;
    std::fprintf(stderr, "%s: wrong result\n", op);
    print_digits("x", x, n);
    if (y) print_digits("y", y, n);
    print_digits("got", got, digits);
    char* w = BN_bn2hex(want);
    std::fprintf(stderr, "want = %s\n", w);
    OPENSSL_free(w);
    std::abort();
}

/*
 * Runs f(out, x, y) with out a separate array (sel 0), the same array as x (1)
 * or as y (2), or with all three the same (3; y is then given x's value
 * before the expectation is formed, which is the caller's job via same_xy).
 */
template <class F>
void call2(unsigned sel, std::uint32_t* out, std::uint32_t* x, std::uint32_t* y, F f) {
    switch (sel % 4) {
        case 0:
            f(out, x, y);
            break;
        case 1:
            std::copy_n(x, MAX, out);
            f(out, out, y);
            break;
        case 2:
            std::copy_n(y, MAX, out);
            f(out, x, out);
            break;
        default:
            std::copy_n(x, MAX, out);
            f(out, out, out);
            break;
    }
}

void same_xy(unsigned sel, const std::uint32_t* x, std::uint32_t* y) {
    if (sel % 4 == 3) std::copy_n(x, MAX, y);
}

// Runs f(out, x) separately (sel even) or in place (sel odd).
template <class F>
void call1(unsigned sel, std::uint32_t* out, const std::uint32_t* x, F f) {
    if (sel % 2 == 0) {
        f(out, x);
    } else {
        std::copy_n(x, MAX, out);
        f(out, out);
    }
}

Bn pow2(int bits) {
    Bn r = new_bn();
    BN_set_bit(r.get(), bits);
    return r;
}

void add_sub(Reader& in, unsigned sel) {
    const int n = static_cast<int>(in.range(0, MAX));
    const auto n8 = static_cast<std::uint8_t>(n);
    Num x, y, a;
    operand(in, x, n);
    operand(in, y, n);
    same_xy(sel, x, y);
    Bn bx = to_bn(x, n), by = to_bn(y, n), top = pow2(32 * n), want = new_bn();
    std::uint32_t carry = 0;

    BN_add(want.get(), bx.get(), by.get());
    const bool want_carry = BN_cmp(want.get(), top.get()) >= 0;
    if (want_carry) BN_sub(want.get(), want.get(), top.get());
    call2(sel, a, x, y, [&](auto* o, auto* p, auto* q) { carry = NN_Add(o, p, q, n8); });
    check(a, n, want.get(), "NN_Add", x, y, n);
    FUZZ_CHECK(carry == want_carry, "NN_Add carry %u", carry);

    BN_sub(want.get(), bx.get(), by.get());
    const bool want_borrow = BN_is_negative(want.get());
    if (want_borrow) BN_add(want.get(), want.get(), top.get());
    call2(sel, a, x, y, [&](auto* o, auto* p, auto* q) { carry = NN_Sub(o, p, q, n8); });
    check(a, n, want.get(), "NN_Sub", x, y, n);
    FUZZ_CHECK(carry == want_borrow, "NN_Sub borrow %u", carry);
}

void mult_sqr(Reader& in, unsigned sel) {
    const int n = static_cast<int>(in.range(0, NUM_DIGITS));
    const auto n8 = static_cast<std::uint8_t>(n);
    Num x, y, a;
    operand(in, x, n);
    operand(in, y, n);
    same_xy(sel, x, y);
    Bn bx = to_bn(x, n), by = to_bn(y, n), want = new_bn();
    BN_mul(want.get(), bx.get(), by.get(), ctx());
    call2(sel, a, x, y, [&](auto* o, auto* p, auto* q) { NN_Mult(o, p, q, n8); });
    check(a, 2 * n, want.get(), "NN_Mult", x, y, n);
    BN_sqr(want.get(), bx.get(), ctx());
    call1(sel, a, x, [&](auto* o, auto* p) { NN_Sqr(o, p, n8); });
    check(a, 2 * n, want.get(), "NN_Sqr", x, nullptr, n);
}

void shifts(Reader& in, unsigned sel) {
    const int n = static_cast<int>(in.range(0, MAX));
    const auto n8 = static_cast<std::uint8_t>(n);
    const auto c = static_cast<std::uint8_t>(in.range(0, 40));
    Num x, a;
    operand(in, x, n);
    Bn bx = to_bn(x, n), want = new_bn(), out = new_bn();
    std::uint32_t bits = 0;

    // c >= 32 writes nothing and returns 0: a keeps the marker.
    std::fill_n(a, MAX, 0x5A5A5A5Au);
    call1(sel, a, x, [&](auto* o, auto* p) { bits = NN_LShift(o, p, c, n8); });
    if (c >= 32) {
        FUZZ_CHECK(bits == 0 && (sel % 2 || n == 0 || a[0] == 0x5A5A5A5A),
                   "NN_LShift by %d wrote its output or returned %08x", c, bits);
        FUZZ_CHECK(NN_RShift(a, x, c, n8) == 0, "NN_RShift by %d", c);
        return;
    }
    BN_lshift(want.get(), bx.get(), c);
    BN_rshift(out.get(), want.get(), 32 * n);
    BN_mask_bits(want.get(), 32 * n);
    check(a, n, want.get(), "NN_LShift", x, nullptr, n);
    FUZZ_CHECK(BN_get_word(out.get()) == bits, "NN_LShift out %08x", bits);

    call1(sel, a, x, [&](auto* o, auto* p) { bits = NN_RShift(o, p, c, n8); });
    BN_rshift(want.get(), bx.get(), c);
    check(a, n, want.get(), "NN_RShift", x, nullptr, n);
    BN_copy(out.get(), bx.get());
    BN_mask_bits(out.get(), c);
    if (c != 0) BN_lshift(out.get(), out.get(), 32 - c);
    FUZZ_CHECK(BN_get_word(out.get()) == bits, "NN_RShift out %08x", bits);
}

void digit_mult(Reader& in, unsigned sel) {
    const int n = static_cast<int>(in.range(0, MAX));
    const auto n8 = static_cast<std::uint8_t>(n);
    Num x, y, a;
    operand(in, x, n);
    operand(in, y, n);
    const std::uint32_t c = in.byte() % 4 ? in.u32() : in.byte() % 2 ? M : 0;
    Bn bx = to_bn(x, n), cd = to_bn(y, n), top = pow2(32 * n), want = new_bn(), hi = new_bn();
    BN_mul_word(cd.get(), c);
    std::uint32_t out = 0;

    // c = 0 writes nothing and returns 0: a separate output keeps the marker.
    std::fill_n(a, MAX, 0x5A5A5A5Au);
    if (c == 0 && sel % 2 == 0) {
        FUZZ_CHECK(NN_AddDigitMult(a, x, c, y, n8) == 0 && NN_SubDigitMult(a, x, c, y, n8) == 0 &&
                       a[0] == 0x5A5A5A5A,
                   "digit multiple of 0 wrote its output");
        return;
    }

    // b + c*d = a + carry * 2^(32n)
    BN_add(want.get(), bx.get(), cd.get());
    BN_rshift(hi.get(), want.get(), 32 * n);
    BN_mask_bits(want.get(), 32 * n);
    call1(sel, a, x, [&](auto* o, auto* p) { out = NN_AddDigitMult(o, p, c, y, n8); });
    check(a, n, want.get(), "NN_AddDigitMult", x, y, n);
    FUZZ_CHECK(BN_get_word(hi.get()) == out, "NN_AddDigitMult carry %08x", out);

    // b - c*d = a - borrow * 2^(32n): borrow = ceil((c*d - b) / 2^(32n)) when positive
    BN_sub(hi.get(), cd.get(), bx.get());
    if (BN_is_negative(hi.get())) BN_zero(hi.get());
    BN_add(hi.get(), hi.get(), top.get());
    BN_sub_word(hi.get(), 1);
    BN_rshift(hi.get(), hi.get(), 32 * n);
    BN_sub(want.get(), bx.get(), cd.get());
    BN_nnmod(want.get(), want.get(), top.get(), ctx());
    call1(sel, a, x, [&](auto* o, auto* p) { out = NN_SubDigitMult(o, p, c, y, n8); });
    check(a, n, want.get(), "NN_SubDigitMult", x, y, n);
    FUZZ_CHECK(BN_get_word(hi.get()) == out, "NN_SubDigitMult borrow %08x", out);
}

void div(Reader& in, unsigned sel) {
    const int cn = static_cast<int>(in.range(1, 2 * NUM_DIGITS));
    const int dn = static_cast<int>(in.range(1, NUM_DIGITS));
    Num c, d, q, r;
    operand(in, c, cn);
    operand(in, d, dn);
    std::fill_n(q, MAX, 0x5A5A5A5Au);
    std::fill_n(r, MAX, 0x5A5A5A5Au);
    Bn bc = to_bn(c, cn), bd = to_bn(d, dn), wq = new_bn(), wr = new_bn();
    const bool zero = BN_is_zero(bd.get());
    if (!zero) BN_div(wq.get(), wr.get(), bc.get(), bd.get(), ctx());
    // Outputs may be c or d; quotient and remainder are distinct.
    std::uint32_t* qa = q;
    std::uint32_t* ra = r;
    switch (sel % 5) {
        case 1:
            qa = c;
            break;
        case 2:
            ra = d;
            break;
        case 3:
            ra = c;
            break;
        case 4:
            qa = d;
            break;
    }
    const bool with_q = (sel / 8) % 2 == 0;
    Num c0, d0;
    std::copy_n(c, MAX, c0);
    std::copy_n(d, MAX, d0);
    NN_Div(with_q ? qa : nullptr, ra, c, static_cast<std::uint8_t>(cn), d,
           static_cast<std::uint8_t>(dn));
    if (zero) {
        FUZZ_CHECK(std::equal(c, c + MAX, c0) && std::equal(d, d + MAX, d0) && q[0] == 0x5A5A5A5A &&
                       r[0] == 0x5A5A5A5A,
                   "NN_Div by zero wrote an output");
        return;
    }
    if (with_q) check(qa, cn, wq.get(), "NN_Div quotient", c0, nullptr, cn);
    check(ra, dn, wr.get(), "NN_Div remainder", c0, nullptr, cn);
}

void mod(Reader& in, unsigned sel) {
    const int bn = static_cast<int>(in.range(1, 2 * NUM_DIGITS));
    const int dn = static_cast<int>(in.range(1, NUM_DIGITS));
    Num b, d, a;
    operand(in, b, bn);
    operand(in, d, dn);
    std::fill_n(a, MAX, 0x5A5A5A5Au);
    Bn bb = to_bn(b, bn), bd = to_bn(d, dn), want = new_bn();
    if (BN_is_zero(bd.get())) {
        NN_Mod(a, b, static_cast<std::uint8_t>(bn), d, static_cast<std::uint8_t>(dn));
        FUZZ_CHECK(a[0] == 0x5A5A5A5A, "NN_Mod by zero wrote a");
        return;
    }
    BN_nnmod(want.get(), bb.get(), bd.get(), ctx());
    std::uint32_t* out = a;
    if (sel % 3 == 1) out = b;
    if (sel % 3 == 2) out = d;
    NN_Mod(out, b, static_cast<std::uint8_t>(bn), d, static_cast<std::uint8_t>(dn));
    check(out, dn, want.get(), "NN_Mod", a, nullptr, 0);
}

// A nonzero modulus of n digits and the count.
int modulus(Reader& in, std::uint32_t* m) {
    const int n = static_cast<int>(in.range(1, NUM_DIGITS));
    operand(in, m, n);
    nonzero(m, n);
    return n;
}

void mod_add_sub(Reader& in, unsigned sel) {
    Num m, x, y, a;
    const int n = modulus(in, m);
    const auto n8 = static_cast<std::uint8_t>(n);
    operand(in, x, n);
    operand(in, y, n);
    reduce(x, m, n);
    reduce(y, m, n);
    same_xy(sel, x, y);
    Bn bx = to_bn(x, n), by = to_bn(y, n), bm = to_bn(m, n), want = new_bn();
    BN_mod_add(want.get(), bx.get(), by.get(), bm.get(), ctx());
    call2(sel, a, x, y, [&](auto* o, auto* p, auto* q) { NN_ModAdd(o, p, q, m, n8); });
    check(a, n, want.get(), "NN_ModAdd", x, y, n);
    BN_mod_sub(want.get(), bx.get(), by.get(), bm.get(), ctx());
    call2(sel, a, x, y, [&](auto* o, auto* p, auto* q) { NN_ModSub(o, p, q, m, n8); });
    check(a, n, want.get(), "NN_ModSub", x, y, n);
}

void mod_mult(Reader& in, unsigned sel) {
    Num m, x, y, a;
    const int n = modulus(in, m);
    operand(in, x, n);
    operand(in, y, n);
    same_xy(sel, x, y);
    Bn bx = to_bn(x, n), by = to_bn(y, n), bm = to_bn(m, n), want = new_bn();
    BN_mod_mul(want.get(), bx.get(), by.get(), bm.get(), ctx());
    call2(sel, a, x, y,
          [&](auto* o, auto* p, auto* q) { NN_ModMult(o, p, q, m, static_cast<std::uint8_t>(n)); });
    check(a, n, want.get(), "NN_ModMult", x, y, n);
}

void mod_exp(Reader& in, unsigned sel) {
    Num m, b, e, a;
    const int n = modulus(in, m);
    const int en = static_cast<int>(in.range(0, 16));
    operand(in, b, n);
    operand(in, e, en);
    Bn bb = to_bn(b, n), be = to_bn(e, en), bm = to_bn(m, n), want = new_bn();
    if (BN_is_zero(be.get())) {
        BN_one(want.get());  // no reduction, also modulo 1
    } else {
        BN_mod_exp(want.get(), bb.get(), be.get(), bm.get(), ctx());
    }
    std::uint32_t* out = a;
    if (sel % 3 == 1) out = b;
    if (sel % 3 == 2) out = m;
    NN_ModExp(out, b, e, static_cast<std::uint8_t>(en), m, static_cast<std::uint8_t>(n));
    check(out, n, want.get(), "NN_ModExp", e, nullptr, en);
}

void mod_inv(Reader& in, unsigned sel) {
    Num m, x, a;
    const int n = modulus(in, m);
    operand(in, x, n);
    Bn bx = to_bn(x, n), bm = to_bn(m, n), g = new_bn(), want = new_bn();
    BN_gcd(g.get(), bx.get(), bm.get(), ctx());
    if (BN_is_one(bm.get()) || !BN_is_one(g.get())) return;
    BN_mod_inverse(want.get(), bx.get(), bm.get(), ctx());
    call1(sel, a, x, [&](auto* o, auto* p) { NN_ModInv(o, p, m, static_cast<std::uint8_t>(n)); });
    check(a, n, want.get(), "NN_ModInv", x, m, n);
}

void gcd(Reader& in, unsigned sel) {
    Num x, y, a;
    const int n = static_cast<int>(in.range(1, NUM_DIGITS));
    operand(in, x, n);
    operand(in, y, n);
    same_xy(sel, x, y);
    Bn bx = to_bn(x, n), by = to_bn(y, n), want = new_bn();
    BN_gcd(want.get(), bx.get(), by.get(), ctx());
    call2(sel, a, x, y,
          [&](auto* o, auto* p, auto* q) { NN_Gcd(o, p, q, static_cast<std::uint8_t>(n)); });
    check(a, n, want.get(), "NN_Gcd", x, y, n);
}

/*
 * The fast reduction returns the product mod p, except that a nonzero
 * product that is a multiple of p comes out as p. Digit 4 of the inputs is
 * not read: it carries fuzzer bytes.
 */
void mod_mult_opt(Reader& in, unsigned sel) {
    Num x, y, a;
    operand(in, x, KEY_DIGITS);
    operand(in, y, KEY_DIGITS);
    same_xy(sel, x, y);
    Bn bx = to_bn(x, KEY_DIGITS), by = to_bn(y, KEY_DIGITS), bp = to_bn(kP, NUM_DIGITS);
    Bn prod = new_bn(), want = new_bn();
    x[4] = in.u32();
    y[4] = in.u32();
    BN_mul(prod.get(), bx.get(), by.get(), ctx());
    BN_nnmod(want.get(), prod.get(), bp.get(), ctx());
    if (BN_is_zero(want.get()) && !BN_is_zero(prod.get())) BN_copy(want.get(), bp.get());
    call2(sel, a, x, y,
          [&](auto* o, auto* p, auto* q) { NN_ModMultOpt(o, p, q, kP, kOmega, NUM_DIGITS); });
    check(a, NUM_DIGITS, want.get(), "NN_ModMultOpt", x, y, KEY_DIGITS);

    BN_sqr(prod.get(), bx.get(), ctx());
    BN_nnmod(want.get(), prod.get(), bp.get(), ctx());
    if (BN_is_zero(want.get()) && !BN_is_zero(prod.get())) BN_copy(want.get(), bp.get());
    call1(sel, a, x, [&](auto* o, auto* p) { NN_ModSqrOpt(o, p, kP, kOmega, NUM_DIGITS); });
    check(a, NUM_DIGITS, want.get(), "NN_ModSqrOpt", x, nullptr, KEY_DIGITS);
}

// b / c mod d for an odd d below 2^(32n - 1): p, n or one from the input.
void mod_div_opt(Reader& in, unsigned sel) {
    Num d, b, c, a;
    int n = NUM_DIGITS;
    std::fill_n(d, MAX, 0u);
    switch (in.byte() % 3) {
        case 0:
            std::copy_n(kP, NUM_DIGITS, d);
            break;
        case 1:
            std::copy_n(kN, NUM_DIGITS, d);
            break;
        default:
            n = static_cast<int>(in.range(1, NUM_DIGITS));
            operand(in, d, n);
            d[0] |= 1;
            d[n - 1] &= 0x7FFFFFFF;
            if (n == 1 && d[0] == 1) return;  // no c in [1, d-1]
            break;
    }
    operand(in, b, n);
    operand(in, c, n);
    reduce(b, d, n);
    reduce(c, d, n);
    Bn bb = to_bn(b, n), bc = to_bn(c, n), bd = to_bn(d, n), g = new_bn(), want = new_bn();
    if (BN_is_zero(bc.get())) {
        // No quotient: the result is 0.
        NN_ModDivOpt(a, b, c, d, static_cast<std::uint8_t>(n));
        check(a, n, want.get(), "NN_ModDivOpt by 0", b, c, n);
        return;
    }
    BN_gcd(g.get(), bc.get(), bd.get(), ctx());
    if (!BN_is_one(g.get())) return;
    BN_mod_inverse(want.get(), bc.get(), bd.get(), ctx());
    BN_mod_mul(want.get(), want.get(), bb.get(), bd.get(), ctx());
    const auto n8 = static_cast<std::uint8_t>(n);
    switch (sel % 4) {
        case 0:
            NN_ModDivOpt(a, b, c, d, n8);
            break;
        case 1:
            NN_ModDivOpt(b, b, c, d, n8);
            std::copy_n(b, MAX, a);
            break;
        case 2:
            NN_ModDivOpt(c, b, c, d, n8);
            std::copy_n(c, MAX, a);
            break;
        default:
            NN_ModDivOpt(d, b, c, d, n8);
            std::copy_n(d, MAX, a);
            break;
    }
    check(a, n, want.get(), "NN_ModDivOpt", b, c, n);
}

// Byte conversions, comparisons and bit counts.
void convert(Reader& in, unsigned sel) {
    std::uint8_t bytes[255], enc[255], want_bytes[255];
    const auto len = static_cast<std::uint8_t>(in.byte());
    const int n = static_cast<int>(in.range(0, MAX));
    in.bytes(bytes, len);
    Num a, b;
    std::fill_n(a, MAX, 0x5A5A5A5Au);
    NN_Decode(a, static_cast<std::uint8_t>(n), bytes, len);
    Bn want(BN_bin2bn(bytes, len, nullptr));
    BN_mask_bits(want.get(), 32 * n);
    check(a, n, want.get(), "NN_Decode", a, nullptr, 0);
    FUZZ_CHECK(n == MAX || a[n] == 0x5A5A5A5A, "NN_Decode wrote beyond its count");

    const auto elen = static_cast<std::uint8_t>(in.byte());
    Bn bx = to_bn(a, n);
    BN_mask_bits(bx.get(), 8 * elen);
    BN_bn2binpad(bx.get(), want_bytes, elen);
    NN_Encode(enc, elen, a, static_cast<std::uint8_t>(n));
    FUZZ_CHECK(std::equal(enc, enc + elen, want_bytes), "NN_Encode of %d digits into %d bytes", n,
               elen);

    operand(in, b, n);
    if (sel % 2) std::copy_n(a, n, b);
    Bn ba = to_bn(a, n), bb = to_bn(b, n);
    const auto n8 = static_cast<std::uint8_t>(n);
    FUZZ_CHECK(NN_Cmp(a, b, n8) == BN_cmp(ba.get(), bb.get()), "NN_Cmp");
    FUZZ_CHECK(NN_Equal(a, b, n8) == (BN_cmp(ba.get(), bb.get()) == 0), "NN_Equal");
    FUZZ_CHECK(NN_Zero(a, n8) == BN_is_zero(ba.get()), "NN_Zero");
    FUZZ_CHECK(NN_One(a, n8) == BN_is_one(ba.get()), "NN_One");
    const unsigned bits = static_cast<unsigned>(BN_num_bits(ba.get()));
    FUZZ_CHECK(NN_Bits(a, n8) == bits, "NN_Bits %u, want %u", NN_Bits(a, n8), bits);
    FUZZ_CHECK(NN_Digits(a, n8) == (bits + 31) / 32, "NN_Digits");
    FUZZ_CHECK(
        n == 0 || NN_DigitBits(a[0]) == static_cast<unsigned>(BN_num_bits(to_bn(a, 1).get())),
        "NN_DigitBits");

    const auto e = static_cast<std::uint16_t>(in.byte() | (in.byte() & 3) << 8);
    NN_Assign2Exp(a, e, n8);
    BN_zero(want.get());
    if (e < 32 * n) BN_set_bit(want.get(), e);
    check(a, n, want.get(), "NN_Assign2Exp", a, nullptr, 0);
}

}  // namespace
}  // namespace klarvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace klarvex::fuzz;
    Reader in(data, size);
    const unsigned op = in.byte();
    const unsigned sel = in.byte();
    switch (op % 14) {
        case 0:
            add_sub(in, sel);
            break;
        case 1:
            mult_sqr(in, sel);
            break;
        case 2:
            shifts(in, sel);
            break;
        case 3:
            digit_mult(in, sel);
            break;
        case 4:
            div(in, sel);
            break;
        case 5:
            mod(in, sel);
            break;
        case 6:
            mod_add_sub(in, sel);
            break;
        case 7:
            mod_mult(in, sel);
            break;
        case 8:
            mod_exp(in, sel);
            break;
        case 9:
            mod_inv(in, sel);
            break;
        case 10:
            gcd(in, sel);
            break;
        case 11:
            mod_mult_opt(in, sel);
            break;
        case 12:
            mod_div_opt(in, sel);
            break;
        default:
            convert(in, sel);
            break;
    }
    return 0;
}
