#!/usr/bin/env python3
"""Prints the known answers of the library tests that no standard gives,
computed here independently of the C++ code: with Python's integers,
hashlib and hmac, the affine curve arithmetic of secp128r2.py, RFC 6979 as
klarvex uses it, and glibc's rand(). Standard library only.

    python3 gen/known_answers.py

Each line names the test that holds the value. Numbers are printed as the
tests write them: digit arrays least significant digit first, other values
as hex, most significant digit first.
"""

import hashlib
import hmac

from secp128r2 import A, B, G, N, P, mul


def digits(v, count=5):
    return "{" + ", ".join(f"0x{(v >> (32 * i)) & 0xFFFFFFFF:X}" for i in range(count)) + "}"


def sha1(data):
    return hashlib.sha1(data).digest()


# --- glibc's rand(): random_r with the TYPE_3 state of 31 words -------------

class GlibcRand:
    """rand() after srand(seed), as glibc's srandom_r and random_r compute it."""

    def __init__(self, seed):
        word = seed if seed != 0 else 1
        if word >= 2**31:
            word -= 2**32  # the seed is stored as a signed 32-bit word
        state = [word]
        for _ in range(1, 31):
            # 16807 * word mod (2^31 - 1) by Schrage's method, C division
            hi = int(word / 127773)
            lo = word - hi * 127773
            word = 16807 * lo - 2836 * hi
            if word < 0:
                word += 2147483647
            state.append(word)
        self.state = [w & 0xFFFFFFFF for w in state]
        self.f, self.r = 3, 0
        for _ in range(310):
            self.next()

    def next(self):
        s = self.state
        s[self.f] = (s[self.f] + s[self.r]) & 0xFFFFFFFF
        result = s[self.f] >> 1
        self.f = (self.f + 1) % 31
        self.r = (self.r + 1) % 31
        return result


def gen_random(rng, count=5):
    """gen_random: digit i = (first << 16) ^ second of two rand() calls."""
    v = 0
    for i in range(count):
        first, second = rng.next(), rng.next()
        v |= (((first << 16) ^ second) & 0xFFFFFFFF) << (32 * i)
    return v


# --- RFC 6979 (sections 3.2 and 3.6) with HMAC-SHA1, qlen = 126 --------------

def bits2int(b):
    """The leading 126 bits of a 160-bit string."""
    return int.from_bytes(b, "big") >> (8 * len(b) - 126)


def nonce(d, h1, extra):
    mac = lambda k, m: hmac.new(k, m, hashlib.sha1).digest()
    z = bits2int(h1)
    z = z - N if z >= N else z
    seed = d.to_bytes(16, "big") + z.to_bytes(16, "big") + extra
    k, v = b"\x00" * 20, b"\x01" * 20
    for sep in (b"\x00", b"\x01"):
        k = mac(k, v + sep + seed)
        v = mac(k, v)
    while True:
        v = mac(k, v)
        t = bits2int(v)
        if 1 <= t < N:
            return t
        k = mac(k, v + b"\x00")
        v = mac(k, v)


def sign(seed, msg, d):
    """ecdsa_sign after srand(seed): e is the whole digest mod n."""
    rng = GlibcRand(seed)
    digest = sha1(msg)
    e = int.from_bytes(digest, "big") % N
    x = d % N
    while True:
        extra = gen_random(rng).to_bytes(20, "big")
        k = nonce(x, digest, extra)
        r = mul(k, G)[0] % N
        if r == 0:
            continue
        s = pow(k, -1, N) * (e + x * r) % N
        if s:
            return r, s


# --- The point of order two: the root of x^3 + a*x + b -----------------------

def poly_mod(u, f):
    """u mod f over GF(p); coefficient lists, lowest degree first."""
    u = u[:]
    while len(u) >= len(f):
        c = u[-1] * pow(f[-1], -1, P) % P
        shift = len(u) - len(f)
        for i, fc in enumerate(f):
            u[shift + i] = (u[shift + i] - c * fc) % P
        u.pop()
        while u and u[-1] == 0:
            u.pop()
    return u


def poly_mul_mod(u, v, f):
    w = [0] * (len(u) + len(v) - 1) if u and v else []
    for i, a in enumerate(u):
        for j, b in enumerate(v):
            w[i + j] = (w[i + j] + a * b) % P
    return poly_mod(w, f)


def order_two_x():
    """gcd(x^p - x, f) for f = x^3 + a*x + b is x - x0, f having one root."""
    f = [B, A, 0, 1]
    xp, base, e = [1], [0, 1], P
    while e:
        if e & 1:
            xp = poly_mul_mod(xp, base, f)
        base = poly_mul_mod(base, base, f)
        e >>= 1
    g = xp + [0] * (2 - len(xp))
    g[1] = (g[1] - 1) % P
    u, v = f, poly_mod(g, f)
    while v:
        u, v = v, poly_mod(u, v)
    assert len(u) == 2, "x^3 + a*x + b has more than one root"
    return -u[0] * pow(u[1], -1, P) % P


def main():
    show = lambda test, what, value: print(f"{test:<16} {what}: {value}")

    m160, m128 = 2**160 - 1, 2**128 - 1
    gx = G[0]
    show("nn_test", "(2^160 - 1)^2 mod p", digits(m160 * m160 % P))
    show("nn_test", "3^(2^31) mod p", digits(pow(3, 2**31, P)))
    show("nn_test", "Gx^(2^33 - 1) mod n", digits(pow(gx, 2**33 - 1, N)))
    show("nn_test", "(2^128 - 1)^2 mod p", digits(m128 * m128 % P))

    for n in (0, 55, 56, 63, 64, 65):
        show("sha1_test", f"SHA-1 of {n} bytes 'a'", sha1(b"a" * n).hex())

    x0 = order_two_x()
    assert (x0**3 + A * x0 + B) % P == 0
    show("ecc_test", "x of the point of order two", f"{x0:032X}")

    d = 0x0123456789ABCDEF0FEDCBA987654321
    q = mul(d, G)
    show("ecdsa_test", "KAT_Q x", f"{q[0]:032x}")
    show("ecdsa_test", "KAT_Q y", f"{q[1]:032x}")
    h1, extra = sha1(b"abc"), bytes(range(20))
    show("ecdsa_test", "nonce, h1 = SHA-1('abc')", f"{nonce(d, h1, extra):032x}")
    for lead in (2**126 - 1, N, N - 1):
        h = (lead << 34).to_bytes(20, "big")
        show("ecdsa_test", f"nonce, h1 = {lead:032x} * 2^34", f"{nonce(d, h, extra):032x}")
    for msg in (b"", b"abc"):
        e = int.from_bytes(sha1(msg), "big") % N
        show("ecdsa_test", f"e of {msg!r}", f"{e:032x}")

    rng = GlibcRand(12345)
    show("ecdsa_test", "glibc: gen_random after srand(12345)", digits(gen_random(rng)))
    for msg in (b"abc", b""):
        r, s = sign(12345, msg, d)
        show("ecdsa_test", f"glibc: signature of {msg!r} after srand(12345)", f"{r:032x}{s:032x}")


if __name__ == "__main__":
    main()
