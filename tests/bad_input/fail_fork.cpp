// A test instrument of the night's suite, preloaded into tavrolin-night
// (LD_PRELOAD): the fork call numbered TAVROLIN_TEST_FAIL_FORK (counting from 1, in
// the process that reads it) fails with EAGAIN, as when the system has too many
// processes for a moment.
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <cstdlib>

extern "C" pid_t fork()
{
    using Fork = pid_t (*)();
    static const Fork real_fork = reinterpret_cast<Fork>(dlsym(RTLD_NEXT, "fork"));
    static int calls = 0;
    const char* failing = std::getenv("TAVROLIN_TEST_FAIL_FORK");
    if (failing != nullptr && ++calls == std::atoi(failing)) {
        errno = EAGAIN;
        return -1;
    }
    return real_fork();
}
