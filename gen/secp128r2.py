"""secp128r2 in affine coordinates with Python's integers: the reference the
generators in this folder compute with. Standard library only.

Domain parameters from SEC 2: Recommended Elliptic Curve Domain Parameters,
version 1.0 (2000), section 2.3.2. The point at infinity is None.
"""

P = 2**128 - 2**97 - 1
A = 0xD6031998D1B3BBFEBF59CC9BBFF9AEE1
B = 0x5EEEFCA380D02919DC2C6558BB6D8A5D
G = (0x7B6AA5D85E572983E6FB32A7CDEBC140, 0x27B6916A894D3AEE7106FE805FC34B44)
N = 0x3FFFFFFF7FFFFFFFBE0024720613B5A3

assert P == 0xFFFFFFFDFFFFFFFFFFFFFFFFFFFFFFFF


def on_curve(pt):
    x, y = pt
    return (y * y - (x * x * x + A * x + B)) % P == 0


def add(p1, p2):
    """p1 + p2 by the chord-and-tangent rule."""
    if p1 is None:
        return p2
    if p2 is None:
        return p1
    (x1, y1), (x2, y2) = p1, p2
    if x1 == x2 and (y1 + y2) % P == 0:
        return None
    if p1 == p2:
        lam = (3 * x1 * x1 + A) * pow(2 * y1, -1, P) % P
    else:
        lam = (y2 - y1) * pow(x2 - x1, -1, P) % P
    x3 = (lam * lam - x1 - x2) % P
    return (x3, (lam * (x1 - x3) - y1) % P)


def mul(k, pt):
    """k*pt by double-and-add from the top bit."""
    r = None
    for bit in bin(k)[2:] if k > 0 else "":
        r = add(r, r)
        if bit == "1":
            r = add(r, pt)
    return r


assert on_curve(G) and mul(N, G) is None
