// A test instrument of the bad-input suite, preloaded into the program under test
// (LD_PRELOAD): when the temporary file of the product named by TAVROLIN_TEST_HOLD
// is about to be closed (written completely, not yet renamed into place), it
// creates the file named by TAVROLIN_TEST_HELD and holds the run there for good, so
// that the test can interrupt the run at that very point.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// True when `stream` writes to a file named like "<product>.<suffix>".
bool Writes_temporary_of(std::FILE* stream, const char* product)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
    char target[PATH_MAX];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) return false;
    target[length] = '\0';
    const char* slash = std::strrchr(target, '/');
    const char* name = slash ? slash + 1 : target;
    const size_t product_length = std::strlen(product);
    return std::strncmp(name, product, product_length) == 0 && name[product_length] == '.';
}

}  // namespace

extern "C" int fclose(std::FILE* stream)
{
    using Close = int (*)(std::FILE*);
    static const Close real_fclose = reinterpret_cast<Close>(dlsym(RTLD_NEXT, "fclose"));
    const char* product = std::getenv("TAVROLIN_TEST_HOLD");
    const char* held = std::getenv("TAVROLIN_TEST_HELD");
    if (product != nullptr && held != nullptr && stream != nullptr && Writes_temporary_of(stream, product)) {
        const int mark = open(held, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (mark >= 0) close(mark);
        for (;;) pause();
    }
    return real_fclose(stream);
}
