// A test instrument, preloaded (LD_PRELOAD) into the program under test: memory runs
// out at a chosen allocation. Every operator new and new[] of the process of at least
// TAVROLIN_TEST_FAIL_NEW_BYTES bytes (default 1) is counted from 1; the one numbered
// TAVROLIN_TEST_FAIL_NEW fails as an allocation fails for want of memory
// (std::bad_alloc, or nullptr from the nothrow forms), and those after it go through,
// as when a large block finds no room and smaller ones still do. A
// process made by fork counts afresh from 1 and fails at TAVROLIN_TEST_FAIL_NEW_IN_CHILD
// instead. With TAVROLIN_TEST_COUNT_NEW naming a file, the first process writes its
// count there when it exits, so that a test can choose points across a whole run.
// The programs the process starts (exec) run without the instrument.
// Without effect where the program defines its own operator new (a sanitizer build).
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> count{0};
long failing = 0;          // the allocation that fails, 0 for none
std::size_t counted = 1;   // the smallest allocation counted
pid_t first = 0;

void In_child()
{
    count = 0;
    const char* text = std::getenv("TAVROLIN_TEST_FAIL_NEW_IN_CHILD");
    failing = text ? std::atol(text) : 0;
}

__attribute__((constructor)) void Start()
{
    const char* text = std::getenv("TAVROLIN_TEST_FAIL_NEW");
    failing = text ? std::atol(text) : 0;
    const char* bytes = std::getenv("TAVROLIN_TEST_FAIL_NEW_BYTES");
    counted = bytes ? std::size_t(std::atol(bytes)) : 1;
    first = getpid();
    pthread_atfork(nullptr, nullptr, In_child);
    unsetenv("LD_PRELOAD");
}

__attribute__((destructor)) void Finish()
{
    const char* file = std::getenv("TAVROLIN_TEST_COUNT_NEW");
    if (file == nullptr || getpid() != first) return;
    if (std::FILE* out = std::fopen(file, "w")) {
        std::fprintf(out, "%ld\n", count.load());
        std::fclose(out);
    }
}

// The memory for one allocation, or nullptr when this is the one that fails.
void* Allocate(std::size_t bytes, std::size_t alignment = 0)
{
    if (bytes >= counted && ++count == failing) return nullptr;
    if (bytes == 0) bytes = 1;
    if (alignment == 0) return std::malloc(bytes);
    return std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment * alignment);
}

void* Allocate_or_throw(std::size_t bytes, std::size_t alignment = 0)
{
    void* memory = Allocate(bytes, alignment);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

void* operator new(std::size_t bytes) { return Allocate_or_throw(bytes); }
void* operator new[](std::size_t bytes) { return Allocate_or_throw(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void* operator new(std::size_t bytes, std::align_val_t alignment)
{
    return Allocate_or_throw(bytes, std::size_t(alignment));
}
void* operator new[](std::size_t bytes, std::align_val_t alignment)
{
    return Allocate_or_throw(bytes, std::size_t(alignment));
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return Allocate(bytes, std::size_t(alignment));
}
void* operator new[](std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    return Allocate(bytes, std::size_t(alignment));
}
