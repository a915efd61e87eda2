// A picture file's bytes as the readers see them: the file mapped read-only into
// memory, or, where the system can't map it, read into a buffer of the program's.
// Mapping leaves the samples in the page cache, where the file already is: the run
// holds no copy of a picture in memory of its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class PictureBytes {
public:
    PictureBytes() = default;
    PictureBytes(const PictureBytes&) = delete;
    PictureBytes& operator=(const PictureBytes&) = delete;
    ~PictureBytes();

    const unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    friend std::string Open_picture_file(const std::string& name, PictureBytes& bytes);

    const unsigned char* data_ = nullptr;
    size_t size_ = 0;
    void* mapped_ = nullptr;             // the mapping, when the file is mapped
    std::vector<unsigned char> held_;    // the file's bytes, when it is not
};

// Opens the named file (a regular file only, as Open_regular_file opens it), takes
// its size from the opened descriptor and maps it read-only (or reads it whole where
// mapping fails). An empty text on success, else the reason, which names the file.
// `bytes` must be fresh. While a mapping lasts, a picture cut short by someone else
// raises SIGBUS when a lost page is read: the run's handler (driver/signals.h)
// removes the temporary product and ends the run with a message.
std::string Open_picture_file(const std::string& name, PictureBytes& bytes);
