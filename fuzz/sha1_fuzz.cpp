// SHA-1 and HMAC-SHA1 against OpenSSL. The first byte gives the number of
// cuts (0 to 15), each following byte pair the length of one update; the
// rest is the message, absorbed in those pieces and then whole, on the
// processor's SHA-1 instructions (where it has them) and on the portable
// compression. The last byte also sets the HMAC key length: the key is the
// message's head.

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sha1.h"
#include "sha1_internal.h"
#include "support.h"

using namespace klarvex;

namespace {

void check_sha1(const std::uint8_t* msg, std::size_t len, const std::vector<std::size_t>& cuts,
                const std::uint8_t want[SHA_DIGEST_LENGTH], const char* path) {
    std::uint8_t got[SHA1_HASH_SIZE], again[SHA1_HASH_SIZE];
    Sha1Context ctx;
    FUZZ_CHECK(sha1_reset(&ctx) == SHA1_SUCCESS, "reset");
    std::size_t at = 0;
    for (std::size_t c : cuts) {
        const std::size_t n = std::min(c, len - at);
        // A zero-length update succeeds whatever the pointer.
        FUZZ_CHECK(tamble_sha1_update(&ctx, n ? msg + at : nullptr,
                                      static_cast<std::uint32_t>(n)) == SHA1_SUCCESS,
                   "update of %zu bytes at %zu", n, at);
        at += n;
    }
    FUZZ_CHECK(
        tamble_sha1_update(&ctx, msg + at, static_cast<std::uint32_t>(len - at)) == SHA1_SUCCESS,
        "last update");
    FUZZ_CHECK(sha1_digest(&ctx, got) == SHA1_SUCCESS, "digest");
    FUZZ_CHECK(std::memcmp(got, want, sizeof got) == 0, "digest of %zu bytes in %zu pieces (%s)",
               len, cuts.size() + 1, path);
    // The digest repeats; a further update is refused and sticks.
    FUZZ_CHECK(sha1_digest(&ctx, again) == SHA1_SUCCESS && std::memcmp(again, got, sizeof got) == 0,
               "second digest");
    std::uint8_t one = 0;
    FUZZ_CHECK(tamble_sha1_update(&ctx, &one, 1) == SHA1_STATE_ERROR, "update after digest");
    FUZZ_CHECK(sha1_digest(&ctx, again) == SHA1_STATE_ERROR, "digest after refused update");

    // One pass over the whole message in a reset context.
    FUZZ_CHECK(sha1_reset(&ctx) == SHA1_SUCCESS &&
                   tamble_sha1_update(&ctx, msg, static_cast<std::uint32_t>(len)) == SHA1_SUCCESS &&
                   sha1_digest(&ctx, got) == SHA1_SUCCESS &&
                   std::memcmp(got, want, sizeof got) == 0,
               "digest after reset (%s)", path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* hardware = sha1_internal::hardware().name;
    std::fprintf(stderr, "sha1_fuzz: SHA-1 on %s and on the portable compression\n",
                 hardware ? hardware : "no SHA-1 instructions (cpuid)");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    std::vector<std::size_t> cuts(in.byte() % 16);
    for (auto& c : cuts)
        c = static_cast<std::size_t>(in.byte()) << 8 | in.byte();
    const std::uint8_t* msg = in.rest();
    const std::size_t len = in.left();

    std::uint8_t want[SHA_DIGEST_LENGTH], got[SHA1_HASH_SIZE];
    SHA1(msg, len, want);
    if (const char* hardware = sha1_internal::hardware().name)
        check_sha1(msg, len, cuts, want, hardware);
    sha1_internal::force_portable(true);
    check_sha1(msg, len, cuts, want, "portable");
    sha1_internal::force_portable(false);

    const std::size_t key_len = std::min<std::size_t>(len ? data[size - 1] : 0, len);
    unsigned mac_len = 0;
    HMAC(EVP_sha1(), msg, static_cast<int>(key_len), msg, len, want, &mac_len);
    hmac_sha1(got, msg, static_cast<std::uint32_t>(key_len), msg, static_cast<std::uint32_t>(len));
    FUZZ_CHECK(mac_len == SHA1_HASH_SIZE && std::memcmp(got, want, sizeof got) == 0,
               "HMAC with a %zu-byte key over %zu bytes", key_len, len);
    return 0;
}
