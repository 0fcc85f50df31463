// Faults for a tool under test, loaded with LD_PRELOAD and chosen by its
// environment:
//   FAULT_MALLOC=LO-HI  malloc of LO to HI bytes fails with ENOMEM
//   FAULT_FSYNC=eio     fsync fails with EIO
//   FAULT_FSYNC=kill    the process is killed (SIGKILL) in fsync
//   FAULT_NO_TMPFILE=1  open with O_TMPFILE fails with EOPNOTSUPP, as on a
//                       file system without it
// Not for sanitizer builds: ASan must be the first library loaded.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

extern "C" {

void* __libc_malloc(std::size_t size);

void* malloc(std::size_t size) {
    const char* range = getenv("FAULT_MALLOC");
    char* end = nullptr;
    const unsigned long lo = range ? std::strtoul(range, &end, 10) : 1;
    const unsigned long hi = range && *end == '-' ? std::strtoul(end + 1, nullptr, 10) : 0;
    if (size >= lo && size <= hi) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode =
        (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
    va_end(args);
    if ((flags & O_TMPFILE) == O_TMPFILE && getenv("FAULT_NO_TMPFILE")) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static auto real = reinterpret_cast<int (*)(const char*, int, ...)>(dlsym(RTLD_NEXT, "open"));
    return real(path, flags, mode);
}

int fsync(int fd) {
    const char* fault = getenv("FAULT_FSYNC");
    if (fault && std::strcmp(fault, "kill") == 0) raise(SIGKILL);
    if (fault && std::strcmp(fault, "eio") == 0) {
        errno = EIO;
        return -1;
    }
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return real(fd);
}
}
