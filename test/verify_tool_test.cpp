// klarvex-verify: the built binary on klarvex's own signatures, on each
// verdict, option and usage error, on every form of public key, and on
// signatures that OpenSSL made with random keys; its public-key check and
// PEM public keys against OpenSSL's. The README's recipes, run as written.

#define OPENSSL_SUPPRESS_DEPRECATED
#include "support/openssl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "builtin_key.h"
#include "ecc.h"
#include "keyfile.h"
#include "pem.h"
#include "support/hex.h"
#include "support/process.h"
#include "support/random.h"

#if KLARVEX_HAVE_OPENSSL
#include <openssl/ecdsa.h>
#include <openssl/pem.h>
#endif

namespace klarvex {
namespace {

using test::hex;
using test::Result;
using test::TempDir;
using test::upper;
namespace fs = std::filesystem;

// The group order n, big-endian hex (SEC 2).
const std::string N_HEX = "3fffffff7fffffffbe0024720613b5a3";

const std::string BUILTIN_PUB = hex(keyx, 16) + hex(keyy, 16);

// a + b (spelled out: g++ 12 warns falsely on "literal" + std::string&&).
std::string cat(std::string a, const std::string& b) {
    a += b;
    return a;
}

Result verify(const TempDir& dir, const std::vector<std::string>& args) {
    return test::run(dir, KLARVEX_VERIFY_PATH, args);
}

std::string sign(const TempDir& dir, const std::string& message) {
    Result r = test::run(dir, KLARVEX_TOOL_PATH, {message});
    EXPECT_EQ(r.status, 0) << message;
    EXPECT_EQ(r.out.size(), 65u) << r.out;
    return r.out.substr(0, 64);
}

void expect_valid(const Result& r, const std::string& what) {
    EXPECT_EQ(r.status, 0) << what << ": " << r.err;
    EXPECT_EQ(r.out, "valid\n") << what;
    EXPECT_EQ(r.err, "") << what;
}

// Refused with status (1: "invalid" on stdout; 2: nothing) and reason on
// stderr, each of its lines led by "=> ".
void expect_refused(const Result& r, int status, const std::string& reason,
                    const std::string& what) {
    EXPECT_EQ(r.status, status) << what;
    EXPECT_EQ(r.out, status == 1 ? "invalid\n" : "") << what;
    for (const std::string& line : test::lines(r.err))
        EXPECT_EQ(line.rfind("=> ", 0), 0u) << what << ": " << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << what << ": " << r.err;
}

// The message is converted as klarvex converts it (Hostile.* checks how):
// what signs the same bytes verifies, in either case of every argument, and
// after "--" as well as without it for a MESSAGE that is no option.
TEST(VerifyTool, AcceptsWhatKlarvexSigns) {
    TempDir dir;
    struct {
        std::string signed_text, verified_text;
    } cases[] = {
        {"616263", "6162637"},  // an odd last character is dropped
        {"zz1g61", "%%0161"},   // no hex digit: 0; one digit: its value
        {"-1+f", "ff0f"},       // signs
        {"ff0f", "-1+f"},
    };
    for (const auto& c : cases) {
        std::string sig = sign(dir, c.signed_text);
        expect_valid(verify(dir, {c.verified_text, sig}), c.verified_text);
        expect_valid(verify(dir, {"--", c.verified_text, upper(sig), upper(BUILTIN_PUB)}),
                     c.verified_text + " with the key");
    }
    std::string sig = sign(dir, "616263");
    expect_refused(verify(dir, {"616264", sig}), 1, "does not match", "changed message");
    expect_refused(verify(dir, {"61626300", sig}), 1, "does not match", "longer message");

    for (test::Out out : {test::Out::DevFull, test::Out::ClosedPipe}) {
        Result r = test::run(dir, KLARVEX_VERIFY_PATH, {"616263", sig}, {out});
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "=> cannot write the result\n");
    }
}

TEST(VerifyTool, NamesTheReasonOfEachVerdict) {
    TempDir dir;
    std::string sig = sign(dir, "cafe");
    std::string r = sig.substr(0, 32), s = sig.substr(32), zero(32, '0'), ones(32, 'f');
    struct {
        std::string sig, reason;
    } cases[] = {
        {s + r, "does not match"},  // r and s swapped
        {zero + s, "r is zero"},
        {zero + zero, "r is zero"},  // r is tested before s
        {N_HEX + s, "r is not below the group order"},
        {ones + zero, "r is not below the group order"},
        {r + zero, "s is zero"},
        {r + N_HEX, "s is not below the group order"},
        {r + ones, "s is not below the group order"},
    };
    for (const auto& c : cases)
        expect_refused(verify(dir, {"cafe", c.sig}), 1, c.reason, c.sig);
}

// Options are exact whole arguments before the operands, and "--" ends them.
// Help goes to stdout; a usage error gives the same text on stderr, each line
// led by "=> ". klarvex-keygen takes no KEYFILE that begins with '-' but
// ./-name, and writes nothing on a usage error.
TEST(ToolOptions, HelpVersionAndUsage) {
    TempDir dir;
    const std::string sig = sign(dir, "cafe");
    const std::string v = KLARVEX_VERIFY_PATH, g = KLARVEX_KEYGEN_PATH;
    std::map<std::string, std::string> help, usage;
    for (const std::string& tool : {v, g}) {
        help[tool] = test::run(dir, tool.c_str(), {"--help"}).out;
        EXPECT_EQ(help[tool].rfind("usage: " + fs::path(tool).filename().string() + " ", 0), 0u);
        for (const std::string& line : test::lines(help[tool]))
            usage[tool] += "=> " + line + "\n";
    }
    char pem[cli::PUBLIC_KEY_PEM_MAX];
    const struct {
        std::string tool;
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        {v, {"-h", "cafe"}, 0, help[v]},
        {v, {"--version"}, 0, "klarvex-verify " KLARVEX_VERSION "\n"},
        {v, {"--public-key"}, 0, BUILTIN_PUB + "\n"},
        {v, {"--pem", "--public-key"}, 0, std::string(pem, cli::public_key_pem(pem, keyx, keyy))},
        {v, {"--help=1", sig}, 1, "invalid\n"},  // no option: a MESSAGE
        {v, {}, 2, ""},
        {v, {"cafe", sig, BUILTIN_PUB, "extra"}, 2, ""},
        {v, {"--pem"}, 2, ""},
        {v, {"--public-key", "cafe", sig}, 2, ""},
        {v, {"--", "--help"}, 2, ""},  // an operand after "--": one is too few
        {g, {"--help", "k.key"}, 0, help[g]},
        {g, {"--version"}, 0, "klarvex-keygen " KLARVEX_VERSION "\n"},
        {g, {}, 2, ""},
        {g, {"a.key", "b.key"}, 2, ""},
        {g, {"--", "-x.key"}, 2, ""},
    };
    for (const auto& c : cases) {
        const Result r = test::run(dir, c.tool.c_str(), c.args);
        const std::string what = c.tool + " " + (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(r.status, c.status) << what;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, c.status == 2 ? usage[c.tool] : r.err) << what;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2);  // stdout, stderr
    test::Options in_dir;
    in_dir.setup = [&] { return chdir(dir.path().c_str()) == 0; };
    EXPECT_EQ(test::run(dir, g.c_str(), {"./-x.key"}, in_dir).status, 0);
    EXPECT_TRUE(fs::exists(dir / "-x.key") && fs::exists(dir / "-x.key.pub"));

    for (const std::string& bad :
         {sig.substr(1), sig + "0", cat(" ", sig.substr(1)), cat("0x", sig.substr(2)),
          sig.substr(0, 63) + "g", std::string()})
        expect_refused(verify(dir, {"cafe", bad}), 2, "SIGNATURE must be 64 hexadecimal digits",
                       bad);
}

// PUBLIC_KEY in each of its forms, hex of either case or a PEM file, and what
// is refused, with the reason.
TEST(VerifyTool, PublicKeyForms) {
    TempDir dir;
    const std::string sig = sign(dir, "cafe");
    const std::string x = BUILTIN_PUB.substr(0, 32), y = BUILTIN_PUB.substr(32);
    const bool odd = std::stoi(y.substr(31), nullptr, 16) & 1;
    const std::string p_hex = "fffffffdffffffffffffffffffffffff";
    const std::string x0 = "ea1e91cc9229e872d1e910ce3edcb319";  // (x0, 0) has order two
    std::string y_plus_1 = BUILTIN_PUB;
    y_plus_1[63] = static_cast<char>(y_plus_1[63] + 1);  // ...da -> ...db
    const std::string pem = verify(dir, {"--public-key", "--pem"}).out;
    std::string crlf = "a key\r\n", unused_bit = pem;
    for (char c : pem)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    unused_bit[pem.find('=') - 1]++;
    const std::string forms = "PUBLIC_KEY must be x || y (64 hexadecimal digits)";
    const struct {
        std::string key;  // the argument, or with file the text of the file it names
        int status;
        std::string reason;
        bool file = false;
    } cases[] = {
        {"04" + upper(BUILTIN_PUB), 0, ""},
        {(odd ? "03" : "02") + x, 0, ""},
        {pem, 0, "", true},
        {crlf, 0, "", true},
        {(odd ? "02" : "03") + x, 1, "does not match"},  // (x, -y): another key of order n
        {y_plus_1, 2, "not a point of the curve"},
        {std::string(64, '0'), 2, "not a point of the curve"},
        {p_hex + y, 2, "not below p"},
        {"02" + p_hex, 2, "not below p"},
        {"02" + std::string(32, '0'), 2, "no point has this x"},
        {"02" + x0, 2, "not in the group generated by G"},
        {"03" + x0, 2, "no point has this x and an odd y"},
        {"05" + BUILTIN_PUB, 2, "not 04 || x || y, 02 || x or 03 || x"},
        {BUILTIN_PUB.substr(1), 2, forms},
        {"", 2, forms},
        {(dir / "missing").string(), 2, "cannot be opened: No such file or directory\n=> " + forms},
        {dir.path().string(), 2, "is not a regular file"},
        {pem.substr(0, pem.find("-----END")), 2, "no PEM public key", true},
        {unused_bit, 2, "not valid base64", true},
    };
    int files = 0;
    for (const auto& c : cases) {
        std::string key = c.key;
        if (c.file) std::ofstream(key = (dir / std::to_string(files++)).string()) << c.key;
        const Result r = verify(dir, {"cafe", sig, key});
        if (c.status == 0)
            expect_valid(r, c.key);
        else
            expect_refused(r, c.status, c.reason, c.key);
    }
}

// The first indented block after the line of README.md that begins with
// marker, its indentation removed.
std::string readme_block(const std::string& marker) {
    std::ifstream in(KLARVEX_SOURCE_DIR "/README.md");
    std::string block;
    bool after = false;
    for (std::string line; std::getline(in, line);) {
        if (!after)
            after = line.rfind(marker, 0) == 0;
        else if (line.rfind("    ", 0) == 0)
            block += line.substr(4) + "\n";
        else if (!block.empty())
            break;
    }
    EXPECT_NE(block, "") << marker;
    return block;
}

// bash runs script in dir, which is also HOME, with the built tools first on
// PATH.
Result shell(const TempDir& dir, const std::string& script) {
    const std::string tools = fs::path(KLARVEX_TOOL_PATH).parent_path().string() + ":" +
                              fs::path(KLARVEX_VERIFY_PATH).parent_path().string();
    return test::run(dir, "/bin/bash",
                     {"-c", "export HOME=\"$0\" PATH=\"$1:$PATH\"; cd || exit 125\n" + script,
                      dir.path().string(), tools});
}

// The README's recipes as they stand: both ways of signing a file sign its
// bytes, and OpenSSL accepts a signature of klarvex as "Verifying elsewhere"
// shows, with the KEYFILE.pub of the built-in key.
TEST(Readme, RecipesRunAsWritten) {
    TempDir dir;
    if (shell(dir, "command -v openssl && command -v python3 && command -v xxd").status != 0)
        GTEST_SKIP() << "openssl, python3 or xxd is not installed: the README's recipes cannot run";
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes.push_back(static_cast<char>(i * 7 + (i >> 3)));
    std::ofstream(dir / "message.bin", std::ios::binary) << bytes;
    const Result files = shell(dir, readme_block("To sign the bytes of a file"));
    EXPECT_EQ(test::lines(files.out).size(), 2u) << files.err;
    for (const std::string& sig : test::lines(files.out))
        expect_valid(
            verify(dir, {hex(reinterpret_cast<const std::uint8_t*>(bytes.data()), 1000), sig}),
            "message.bin");
    const Result r = shell(dir, "klarvex-verify --public-key --pem > ~/klarvex.key.pub\n" +
                                    readme_block("## Verifying elsewhere"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Signature Verified Successfully\n");
}

#if KLARVEX_HAVE_OPENSSL

struct OpenSslKey {
    test::Group group = test::secp128r2_group();
    test::BnCtx ctx = test::new_ctx();
    test::Bn n = test::new_bn();
    OpenSslKey() { EC_GROUP_get_order(group.get(), n.get(), ctx.get()); }

    // A random scalar in [1, n-1].
    test::Bn scalar(test::Rng& rng) {
        std::uint8_t b[16];
        test::Bn k = test::new_bn();
        do {
            for (auto& x : b)
                x = static_cast<std::uint8_t>(rng.u32());
            BN_bin2bn(b, sizeof b, k.get());
            BN_nnmod(k.get(), k.get(), n.get(), ctx.get());
        } while (BN_is_zero(k.get()));
        return k;
    }

    std::string point_hex(const EC_POINT* p) {
        return hex(test::point_bytes(group.get(), p, ctx.get()).data(), 32);
    }

    // The SEC 1 encoding of p in form, in hex.
    std::string octets_hex(const EC_POINT* p, point_conversion_form_t form) {
        std::uint8_t b[64];
        return hex(b, EC_POINT_point2oct(group.get(), p, form, b, sizeof b, ctx.get()));
    }

    // OpenSSL's PEM public key of p with the point in form, on group g.
    static std::string pem(const EC_GROUP* g, const EC_POINT* p, point_conversion_form_t form) {
        EC_KEY* key = EC_KEY_new();
        EC_KEY_set_group(key, g);
        EC_KEY_set_public_key(key, p);
        EC_KEY_set_conv_form(key, form);
        BIO* mem = BIO_new(BIO_s_mem());
        PEM_write_bio_EC_PUBKEY(mem, key);
        char* text;
        const long len = BIO_get_mem_data(mem, &text);
        std::string out(text, static_cast<std::size_t>(len));
        BIO_free(mem);
        EC_KEY_free(key);
        return out;
    }
};

// OpenSSL signs random messages under random keys (digest e = SHA-1 mod n,
// passed shifted left by 2 in 16 bytes, which OpenSSL cuts back to e; nonce
// from the test's generator). klarvex-verify, given the public key, accepts
// each signature and refuses it on the message with one bit flipped.
TEST(VerifyToolOpenSsl, AcceptsOpenSslSignaturesUnderRandomKeys) {
    constexpr int CASES = 40;
    test::Rng rng(61);
    OpenSslKey o;
    TempDir dir;
    for (int i = 0; i < CASES; ++i) {
        test::Bn d = o.scalar(rng), k = o.scalar(rng);
        test::EcPoint q(EC_POINT_new(o.group.get())), kg(EC_POINT_new(o.group.get()));
        EC_POINT_mul(o.group.get(), q.get(), d.get(), nullptr, nullptr, o.ctx.get());
        EC_POINT_mul(o.group.get(), kg.get(), k.get(), nullptr, nullptr, o.ctx.get());
        test::Bn rp = test::new_bn(), kinv = test::new_bn();
        EC_POINT_get_affine_coordinates(o.group.get(), kg.get(), rp.get(), nullptr, o.ctx.get());
        BN_nnmod(rp.get(), rp.get(), o.n.get(), o.ctx.get());
        BN_mod_inverse(kinv.get(), k.get(), o.n.get(), o.ctx.get());

        std::vector<std::uint8_t> msg(rng.below(100));
        for (auto& b : msg)
            b = static_cast<std::uint8_t>(rng.u32());
        std::uint8_t dgst[16];
        test::ecdsa_digest(dgst, msg.data(), msg.size(), o.n.get(), o.ctx.get());

        EC_KEY* key = EC_KEY_new_by_curve_name(NID_secp128r2);
        EC_KEY_set_private_key(key, d.get());
        EC_KEY_set_public_key(key, q.get());
        ECDSA_SIG* sig = ECDSA_do_sign_ex(dgst, sizeof dgst, kinv.get(), rp.get(), key);
        ASSERT_NE(sig, nullptr);
        std::uint8_t rs[32];
        BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs, 16);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs + 16, 16);
        ECDSA_SIG_free(sig);
        EC_KEY_free(key);

        std::string msg_hex = hex(msg.data(), msg.size());
        if (rng.below(2)) msg_hex = upper(msg_hex);
        // The public key in each form in turn: x || y, 04 || x || y, 02/03 || x,
        // an OpenSSL PEM file with the point uncompressed or compressed.
        std::string sig_hex = hex(rs, 32), pub_hex = o.point_hex(q.get());
        const auto form = i % 2 ? POINT_CONVERSION_COMPRESSED : POINT_CONVERSION_UNCOMPRESSED;
        if (i % 5 == 1 || i % 5 == 2) pub_hex = o.octets_hex(q.get(), form);
        if (i % 5 >= 3) {
            std::ofstream(dir / "key.pub") << OpenSslKey::pem(o.group.get(), q.get(), form);
            pub_hex = (dir / "key.pub").string();
        }
        expect_valid(verify(dir, {msg_hex, sig_hex, pub_hex}), "case " + std::to_string(i));
        if (msg.empty()) continue;
        msg[rng.below(msg.size())] ^= static_cast<std::uint8_t>(1u << rng.below(8));
        expect_refused(verify(dir, {hex(msg.data(), msg.size()), sig_hex, pub_hex}), 1,
                       "does not match", "flipped case " + std::to_string(i));
    }
}

// Points from random x (both roots where there are any, and y + 1 besides):
// check_public_key accepts exactly those that OpenSSL finds on the curve with
// n*Q at infinity. With cofactor 4, most points of the curve are refused.
TEST(VerifyToolOpenSsl, PublicKeyCheckAgreesWithOpenSsl) {
    constexpr int CASES = 1500;
    test::Rng rng(62);
    OpenSslKey o;
    ecc_init();
    int accepted = 0, on_curve = 0;
    test::EcPoint p(EC_POINT_new(o.group.get())), np(EC_POINT_new(o.group.get()));
    test::Bn field = test::new_bn(), x = test::new_bn(), y = test::new_bn();
    EC_GROUP_get_curve(o.group.get(), field.get(), nullptr, nullptr, o.ctx.get());
    for (int i = 0; i < CASES; ++i) {
        std::uint8_t b[16];
        for (auto& v : b)
            v = static_cast<std::uint8_t>(rng.u32());
        BN_bin2bn(b, sizeof b, x.get());
        BN_nnmod(x.get(), x.get(), field.get(), o.ctx.get());
        int bit = static_cast<int>(rng.below(2));
        // 02/03 || x: a point exactly where OpenSSL finds one, the same point.
        std::uint8_t oct[17] = {static_cast<std::uint8_t>(2 + bit)};
        BN_bn2binpad(x.get(), oct + 1, 16);
        Point got;
        const char* no_point = cli::point_from_octets(&got, oct, sizeof oct);
        if (!EC_POINT_set_compressed_coordinates(o.group.get(), p.get(), x.get(), bit,
                                                 o.ctx.get())) {
            EXPECT_NE(no_point, nullptr) << test::bn_hex(x.get());
            continue;
        }
        EC_POINT_get_affine_coordinates(o.group.get(), p.get(), x.get(), y.get(), o.ctx.get());
        EXPECT_EQ(no_point, nullptr) << test::bn_hex(x.get());
        EXPECT_EQ(test::bn_hex(test::to_bn(got.y, NUM_DIGITS).get()), test::bn_hex(y.get()));
        for (int variant = 0; variant < 2; ++variant) {
            if (variant == 1) BN_add_word(y.get(), 1);
            bool want = false;
            if (EC_POINT_set_affine_coordinates(o.group.get(), p.get(), x.get(), y.get(),
                                                o.ctx.get()) == 1 &&
                EC_POINT_is_on_curve(o.group.get(), p.get(), o.ctx.get()) == 1) {
                ++on_curve;
                EC_POINT_mul(o.group.get(), np.get(), nullptr, p.get(), o.n.get(), o.ctx.get());
                want = EC_POINT_is_at_infinity(o.group.get(), np.get()) == 1;
            }
            Point q;
            ASSERT_TRUE(test::from_bn(q.x, NUM_DIGITS, x.get()));
            ASSERT_TRUE(test::from_bn(q.y, NUM_DIGITS, y.get()));
            const char* why = cli::check_public_key(q);
            EXPECT_EQ(why == nullptr, want)
                << "x " << test::bn_hex(x.get()) << " y " << test::bn_hex(y.get()) << ": "
                << (why ? why : "accepted");
            accepted += why == nullptr;
        }
    }
    std::printf("[ cases    ] %d points on the curve, %d of order n\n", on_curve, accepted);
    EXPECT_GT(accepted, CASES / 10);
    EXPECT_GT(on_curve - accepted, CASES / 4);
}

// klarvex's PEM public key of random points is OpenSSL's, byte for byte (the
// test above has OpenSSL's, compressed too, read back). One with explicit
// parameters instead of the curve's name is refused.
TEST(VerifyToolOpenSsl, PemPublicKeysAgreeWithOpenSsl) {
    constexpr int CASES = 100;
    test::Rng rng(63);
    OpenSslKey o;
    test::EcPoint q(EC_POINT_new(o.group.get()));
    for (int i = 0; i < CASES; ++i) {
        EC_POINT_mul(o.group.get(), q.get(), o.scalar(rng).get(), nullptr, nullptr, o.ctx.get());
        const auto xy = test::point_bytes(o.group.get(), q.get(), o.ctx.get());
        char ours[cli::PUBLIC_KEY_PEM_MAX];
        EXPECT_EQ(std::string(ours, cli::public_key_pem(ours, xy.data(), xy.data() + 16)),
                  OpenSslKey::pem(o.group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED));
    }
    EC_GROUP_set_asn1_flag(o.group.get(), OPENSSL_EC_EXPLICIT_CURVE);
    std::uint8_t b[cli::POINT_OCTETS_MAX];
    std::size_t len;
    const char* why = cli::point_octets_from_pem(
        b, &len, OpenSslKey::pem(o.group.get(), q.get(), POINT_CONVERSION_UNCOMPRESSED));
    EXPECT_NE(std::string(why ? why : "").find("named curve secp128r2"), std::string::npos);
}

#else
KLARVEX_OPENSSL_SKIPPED(VerifyToolOpenSsl)
#endif

}  // namespace
}  // namespace klarvex
