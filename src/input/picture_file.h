// A picture file's bytes as the readers see them: the file mapped read-only into
// memory, or, where the system can't map it, read into a buffer of the program's.
// Mapping leaves the samples in the page cache, where the file already is: the run
// holds no copy of a picture in memory of its own. Only the bytes that a reader
// asks for are mapped, once the header has said how many there must be.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/failure.h"

class PictureBytes {
public:
    PictureBytes() = default;
    PictureBytes(const PictureBytes&) = delete;
    PictureBytes& operator=(const PictureBytes&) = delete;
    ~PictureBytes();

    // The bytes at hand: the file's first bytes (up to 64 KiB) once it is opened,
    // the first `length` bytes after Load(length).
    const unsigned char* data() const { return data_; }
    size_t size() const { return size_; }
    // The file's size, from the opened descriptor.
    size_t file_size() const { return file_size_; }

    // Makes the file's first `length` bytes (at most file_size()) the bytes at hand:
    // mapped read-only, or read where mapping fails. Fails with code 2 and the reason
    // naming the file.
    Failure Load(size_t length);
    // True when the last Load failed for want of memory.
    bool Out_of_memory() const { return out_of_memory_; }

private:
    friend Failure Open_picture_file(const std::string& name, PictureBytes& bytes);

    std::string name_;
    int descriptor_ = -1;
    size_t file_size_ = 0;
    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    void* mapped_ = nullptr;             // the mapping, when the bytes are mapped
    std::vector<unsigned char> held_;    // the bytes read, when they are not
    bool out_of_memory_ = false;
};

// Opens the named file (a regular file only, as Open_regular_file opens it), takes
// its size from the opened descriptor and reads its first bytes. Fails with code 2
// and the reason, which names the file. `bytes` must be fresh. While a mapping
// lasts, a picture cut short by someone else raises SIGBUS when a lost page is read:
// the run's handler (base/signals.h) removes the temporary product and ends the run
// with a message.
Failure Open_picture_file(const std::string& name, PictureBytes& bytes);
