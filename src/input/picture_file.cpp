#include "input/picture_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/input_file.h"

namespace {

// Reads the descriptor's `size` bytes into `held`. An empty text, or the reason.
std::string Read_whole(int descriptor, size_t size, std::vector<unsigned char>& held)
{
    try {
        held.resize(size);
    } catch (const std::bad_alloc&) {
        return "not enough memory to read its " + std::to_string(size) + " bytes";
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(descriptor, held.data() + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::strerror(errno);
        if (got == 0) break;
        done += size_t(got);
    }
    held.resize(done);
    return std::string();
}

}  // namespace

PictureBytes::~PictureBytes()
{
    if (mapped_ != nullptr) munmap(mapped_, size_);
}

std::string Open_picture_file(const std::string& name, PictureBytes& bytes)
{
    const std::string cannot = "Can't open picture file '" + name + "': ";
    std::string reason;
    bool not_regular = false;
    const int descriptor = Open_regular_file(name, reason, not_regular);
    if (descriptor < 0) return cannot + reason;
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        reason = std::strerror(errno);
        close(descriptor);
        return cannot + reason;
    }
    const size_t size = static_cast<size_t>(status.st_size);
    void* mapped = size > 0 ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, descriptor, 0) : MAP_FAILED;
    if (mapped != MAP_FAILED) {
        // The readers go through the samples from the first row to the last.
        madvise(mapped, size, MADV_SEQUENTIAL);
        bytes.mapped_ = mapped;
        bytes.data_ = static_cast<const unsigned char*>(mapped);
        bytes.size_ = size;
    } else {
        // Not mapped (an empty file, or a file system that can't map): read whole.
        reason = Read_whole(descriptor, size, bytes.held_);
        bytes.data_ = bytes.held_.data();
        bytes.size_ = bytes.held_.size();
    }
    close(descriptor);
    return reason.empty() ? std::string() : cannot + reason;
}
