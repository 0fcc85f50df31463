// Internal to the SHA-1 module, its tests, fuzzer and benchmarks; not
// installed: the compression routines behind sha1.h and the choice between
// them.
//
// Every routine compresses whole 64-byte blocks into the intermediate hash
// H0..H4 and gives the same result; they differ only in speed. The portable
// one runs everywhere. The hardware one runs on the processor's SHA-1
// instructions and is used when the processor reports them at run time (x86:
// cpuid, so that valgrind, which hides the SHA bit, runs the portable one;
// ARMv8: the kernel's hardware capabilities), never by a compile-time flag:
// one binary runs on every processor of its architecture.

#ifndef KLARVEX_SHA1_INTERNAL_H
#define KLARVEX_SHA1_INTERNAL_H

#include <cstddef>
#include <cstdint>

// The architectures with a hardware routine (sha1_x86.cpp, sha1_arm.cpp).
#if defined(__x86_64__) || defined(__i386__)
#define KLARVEX_SHA1_X86 1
#else
#define KLARVEX_SHA1_X86 0
#endif
// clang declares the ARM intrinsics only in files built for the extension as
// a whole (-march=armv8-a+crypto); without it, clang builds keep to the
// portable routine.
#if defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && \
    (!defined(__clang__) || defined(__ARM_FEATURE_SHA2))
#define KLARVEX_SHA1_ARM 1
#else
#define KLARVEX_SHA1_ARM 0
#endif

namespace klarvex::sha1_internal {

// Compresses count consecutive 64-byte blocks, starting at blocks (any
// alignment), into hash, one after the other. count may be 0. blocks must not
// overlap hash. Constant time: neither branches nor addresses depend on hash
// or on the blocks' contents.
using Compress = void(std::uint32_t hash[5], const std::uint8_t* blocks, std::size_t count);

struct Hardware {
    const char* name;    // what the routine runs on; nullptr when there is none
    Compress* compress;  // nullptr when the processor lacks the instructions
};

// The compression on this processor's SHA-1 instructions, asked of the
// processor on every call. Defined in the source of each architecture that has
// one; elsewhere it reports none.
Hardware probe_hardware();

// probe_hardware(), asked once for the life of the process.
const Hardware& hardware();

// The compression that runs on any processor.
Compress compress_portable;

// With force true, sha1.h compresses on compress_portable from now on; with
// false, on the hardware routine again where there is one. For tests and
// benchmarks that compare the two. A hash that runs in another thread
// meanwhile may take either routine: both give the same digest.
void force_portable(bool force);

}  // namespace klarvex::sha1_internal

#endif  // KLARVEX_SHA1_INTERNAL_H
