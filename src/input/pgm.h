// The 16-bit binary PGM pictures, as DCRAW writes the raw sensor mosaic: the
// identifier, the header, the frame-size checks and the samples taken in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "base/failure.h"
#include "base/image_plane.h"

// Bytes in memory read as an input stream: the header of a picture is read where
// the picture's bytes are.
class Byte_stream : public std::istream {
public:
    Byte_stream(const unsigned char* bytes, size_t size);
    explicit Byte_stream(const std::string& bytes);   // read where they are: keep them
    Byte_stream(std::string&&) = delete;
    // The offset of the next byte to be read (the size once all are read).
    size_t Position() const { return buffer_.Position(); }

private:
    class Buffer : public std::streambuf {
    public:
        Buffer(const unsigned char* bytes, size_t size);
        size_t Position() const { return static_cast<size_t>(gptr() - eback()); }
    };
    Buffer buffer_;
};

// Reads the three bytes of the identifier. Returns true for "P5"; `shown` receives
// the first two bytes as text (cut at a NUL byte or at the end of the file).
bool Read_pgm_identifier(std::istream& in, std::string& shown);

// Reads width, height and maximum value by formatted extraction. A number that
// can't be read becomes 0 and the numbers after it are left as they were.
void Read_pgm_header(std::istream& in, int32_t& width, int32_t& height, int32_t& maxval);

// The most samples a picture may have: four frames of the camera (6384 x 4224). A
// larger header is refused before anything is allocated.
constexpr int64_t frame_sample_limit = int64_t{4} * 6384 * 4224;

// Checks that a picture of width x height can be held: positive sizes whose product
// fits in 32 bits and within `frame_sample_limit`. Fails with code 2 and the reason
// naming `name`.
Failure Check_frame_limit(const std::string& name, int32_t width, int32_t height);

// Checks that a frame of width x height can be processed: positive even sizes whose
// product fits in 32 bits and within `frame_sample_limit`, large enough for every
// colour cell that the covered-pixel pass and the centre square read. Fails with
// code 2 and the reason naming `name`.
Failure Check_frame_size(const std::string& name, int32_t width, int32_t height);

// Skips the separator byte at `at`, the first byte after the maximum value, and
// takes the `count` samples after it into `plane`, after checking that the `size`
// bytes at `bytes` hold them all. The plane views the samples where they are;
// `owner` keeps them in memory. Fails with code 2 and the reason naming `name`.
Failure Take_pgm_samples(std::shared_ptr<const void> owner, const unsigned char* bytes,
                         size_t size, size_t at, const std::string& name, size_t count,
                         ImagePlane& plane);
