// A test instrument, preloaded (LD_PRELOAD) into the program under test and the
// programs it starts: a full disk for the files named in TAVROLIN_TEST_NO_SPACE
// (names separated by ':', each standing for a file of that name in any folder and
// for its temporary files "<name>.<suffix>"). When such a file is created or opened
// for writing, its descriptor is made to refer to /dev/full, so that every write to
// it, however it is made (stdio, a library's own writes), fails in the kernel with
// ENOSPC, "No space left on device". The file itself is created as usual, so that the
// program's removal of its temporary files is seen as on a real full disk.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// True when the last part of `path` is one of the listed names, or one of them
// followed by a '.' and a suffix.
bool Is_full(const char* path)
{
    const char* names = std::getenv("TAVROLIN_TEST_NO_SPACE");
    if (names == nullptr || path == nullptr) return false;
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    for (const char* name = names; *name != '\0';) {
        const char* end = std::strchr(name, ':');
        const size_t length = end ? size_t(end - name) : std::strlen(name);
        if (length > 0 && std::strncmp(base, name, length) == 0 && (base[length] == '\0' || base[length] == '.')) {
            return true;
        }
        if (end == nullptr) break;
        name = end + 1;
    }
    return false;
}

// Puts /dev/full in the place of `descriptor` (kept open under the same number).
void Make_full(int descriptor)
{
    if (descriptor < 0) return;
    const int saved = errno;
    const int full = open("/dev/full", O_RDWR | O_CLOEXEC);
    if (full >= 0) {
        dup2(full, descriptor);
        close(full);
    }
    errno = saved;
}

bool Is_dev_full(int descriptor)
{
    struct stat status;
    return fstat(descriptor, &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == makedev(1, 7);
}

bool Writes(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

bool Writes(const char* mode) { return mode != nullptr && (std::strpbrk(mode, "wa+") != nullptr); }

template <typename Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

mode_t Mode(int flags, va_list arguments)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(arguments, int)) : 0;
}

// A descriptor just opened for `path`, made to refer to /dev/full where it writes to
// one of the files of the full disk.
int Opened(int descriptor, int flags, const char* path)
{
    if (Writes(flags) && Is_full(path)) Make_full(descriptor);
    return descriptor;
}

}  // namespace

extern "C" {

int mkstemp(char* pattern)
{
    static const auto real = Next<int (*)(char*)>("mkstemp");
    const int descriptor = real(pattern);
    if (Is_full(pattern)) Make_full(descriptor);
    return descriptor;
}

int open(const char* path, int flags, ...)
{
    static const auto real = Next<int (*)(const char*, int, ...)>("open");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = Mode(flags, arguments);
    va_end(arguments);
    return Opened(real(path, flags, mode), flags, path);
}

int open64(const char* path, int flags, ...)
{
    static const auto real = Next<int (*)(const char*, int, ...)>("open64");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = Mode(flags, arguments);
    va_end(arguments);
    return Opened(real(path, flags, mode), flags, path);
}

int openat(int folder, const char* path, int flags, ...)
{
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = Mode(flags, arguments);
    va_end(arguments);
    return Opened(real(folder, path, flags, mode), flags, path);
}

std::FILE* fopen(const char* path, const char* mode)
{
    static const auto real = Next<std::FILE* (*)(const char*, const char*)>("fopen");
    std::FILE* stream = real(path, mode);
    if (stream != nullptr && Writes(mode) && Is_full(path)) Make_full(fileno(stream));
    return stream;
}

std::FILE* fopen64(const char* path, const char* mode)
{
    static const auto real = Next<std::FILE* (*)(const char*, const char*)>("fopen64");
    std::FILE* stream = real(path, mode);
    if (stream != nullptr && Writes(mode) && Is_full(path)) Make_full(fileno(stream));
    return stream;
}

// /dev/full keeps its own permissions and owner whatever the program sets on its
// temporary files.
int fchmod(int descriptor, mode_t mode)
{
    static const auto real = Next<int (*)(int, mode_t)>("fchmod");
    return Is_dev_full(descriptor) ? 0 : real(descriptor, mode);
}

int fchown(int descriptor, uid_t owner, gid_t group)
{
    static const auto real = Next<int (*)(int, uid_t, gid_t)>("fchown");
    return Is_dev_full(descriptor) ? 0 : real(descriptor, owner, group);
}

}  // extern "C"
