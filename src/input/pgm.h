// The 16-bit binary PGM pictures (as DCRAW writes the raw sensor mosaic), the
// picture stage that reads them or the camera's raw files, and the image planes that
// hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

// The 16-bit sample at `index` of samples stored most significant byte first, as
// picture files hold them (two bytes each, at any alignment).
inline uint16_t Stored_sample(const unsigned char* samples, size_t index)
{
    uint16_t sample;
    std::memcpy(&sample, samples + 2 * index, 2);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    sample = __builtin_bswap16(sample);
#endif
    return sample;
}

// An image plane: the samples of one picture in row-major order, the sample at
// column x and row y at index hsize * y + x. Every sample is a 16-bit value of the
// file (0 to 65535), which a 32-bit float holds exactly. The samples stay as the
// file stores them, most significant byte first: a plane read from a PGM is a
// read-only view of the file's samples in its mapping, which the plane keeps alive;
// a plane filled by the program (a decoded raw file, a test's frame) holds its
// samples in a buffer of its own, in the same order.
class ImagePlane {
public:
    ImagePlane() = default;
    // A view of `count` stored samples at `samples`, which `owner` keeps in memory.
    ImagePlane(std::shared_ptr<const void> owner, const unsigned char* samples, size_t count);
    ImagePlane(const ImagePlane& other);
    ImagePlane(ImagePlane&& other) noexcept;
    ImagePlane& operator=(ImagePlane other) noexcept;

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    uint16_t operator[](size_t index) const { return Stored_sample(samples_, index); }
    uint16_t front() const { return (*this)[0]; }
    uint16_t back() const { return (*this)[count_ - 1]; }
    // The 2 x size() bytes of the samples, most significant byte first.
    const unsigned char* stored() const { return samples_; }

    // Filling a plane of the program's own (a view is first copied into one).
    void set(size_t index, uint16_t sample);
    unsigned char* stored_for_writing() { return Own(); }
    void assign(size_t count, uint16_t sample);
    void resize(size_t count);
    // Releases the samples (and the view's file): the plane is empty.
    void clear();

private:
    unsigned char* Own();

    std::shared_ptr<const void> owner_;   // the file a view keeps in memory
    std::vector<unsigned char> held_;     // the samples of a plane of its own
    const unsigned char* samples_ = nullptr;
    size_t count_ = 0;
};

extern int32_t hsize;        // width of the laser picture
extern int32_t vsize;        // height of the laser picture
extern int32_t resolution;   // maximum value of the laser picture
extern ImagePlane value;         // the laser picture
// The dark picture. For "NODARK" the plane holds no samples and reads as a plane of
// zeros of the laser picture's size: every reader of it takes an empty dark plane so.
extern ImagePlane value_bckg;

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

// Checks that a frame of width x height can be processed: positive even sizes whose
// product fits in 32 bits and within `frame_sample_limit`, large enough for every
// colour cell that the covered-pixel pass and the centre square read. Returns an
// empty text, or the reason naming `name`.
std::string Check_frame_size(const std::string& name, int32_t width, int32_t height);

// Skips the separator byte at `at`, the first byte after the maximum value, and
// takes the `count` samples after it into `plane`, after checking that the `size`
// bytes at `bytes` hold them all. The plane views the samples where they are;
// `owner` keeps them in memory. Returns an empty text, or the reason naming `name`.
std::string Take_pgm_samples(std::shared_ptr<const void> owner, const unsigned char* bytes,
                             size_t size, size_t at, const std::string& name, size_t count,
                             ImagePlane& plane);

// The picture stage: reads the laser picture and the dark picture (or leaves the dark
// plane empty, the plane of zeros, for "NODARK"), each a PGM or a raw file. Returns 0
// to go on, or the exit code that ends the run: 2 for a picture that is neither a
// usable 16-bit PGM nor a usable raw file (or a picture there is no memory for), 3
// for a maximum value other than 65535, 4 for an image centre outside the laser
// picture or an rmax beyond its diagonal (Check_settings_for_picture).
int Read_pictures();
