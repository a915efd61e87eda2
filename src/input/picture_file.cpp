#include "input/picture_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/run_codes.h"
#include "input/input_file.h"

namespace {

// The bytes read when a file is opened: enough for any PGM header in practice.
constexpr size_t head_size = size_t{1} << 16;

// Reads `size` bytes of the descriptor from its start into `held`. An empty text, or
// the reason; `out_of_memory` tells when that is the want of memory.
std::string Read_start(int descriptor, size_t size, std::vector<unsigned char>& held,
                       bool& out_of_memory)
{
    out_of_memory = false;
    try {
        held.resize(size);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
        return "not enough memory to read its " + std::to_string(size) + " bytes";
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(descriptor, held.data() + done, size - done, off_t(done));
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
    if (descriptor_ >= 0) close(descriptor_);
}

Failure PictureBytes::Load(size_t length)
{
    length = std::min(length, file_size_);
    if (length <= size_) return {};
    void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, descriptor_, 0);
    if (mapped != MAP_FAILED) {
        // The readers go through the samples from the first row to the last.
        madvise(mapped, length, MADV_SEQUENTIAL);
        if (mapped_ != nullptr) munmap(mapped_, size_);
        std::vector<unsigned char>().swap(held_);
        mapped_ = mapped;
        data_ = static_cast<const unsigned char*>(mapped);
        size_ = length;
        return {};
    }
    // Not mapped (a file system that can't map, or no address space left): read.
    const std::string cannot = "Picture '" + name_ + "' can't be read: ";
    if (mapped_ != nullptr) {
        return Failure{exit_bad_picture, cannot + "can't map more than " + std::to_string(size_) + " bytes"};
    }
    const std::string reason = Read_start(descriptor_, length, held_, out_of_memory_);
    data_ = held_.data();
    size_ = held_.size();
    if (reason.empty()) return {};
    return Failure{exit_bad_picture, cannot + reason};
}

Failure Open_picture_file(const std::string& name, PictureBytes& bytes)
{
    const std::string cannot = "Can't open picture file '" + name + "': ";
    std::string reason;
    bool not_regular = false;
    bytes.name_ = name;
    bytes.descriptor_ = Open_regular_file(name, reason, not_regular);
    if (bytes.descriptor_ < 0) return Failure{exit_bad_picture, cannot + reason};
    struct stat status;
    if (fstat(bytes.descriptor_, &status) != 0) return Failure{exit_bad_picture, cannot + std::strerror(errno)};
    bytes.file_size_ = static_cast<size_t>(status.st_size);
    reason = Read_start(bytes.descriptor_, std::min(bytes.file_size_, head_size), bytes.held_,
                        bytes.out_of_memory_);
    bytes.data_ = bytes.held_.data();
    bytes.size_ = bytes.held_.size();
    if (reason.empty()) return {};
    return Failure{exit_bad_picture, cannot + reason};
}
