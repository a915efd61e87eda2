// The image plane: the samples of one picture of the sensor's RGGB mosaic, as the
// readers take them from a picture file and every later stage reads them, and the
// run state of the two pictures (written by the picture stage, input/pictures.h).
// The coding of a 16-bit sample as picture files store it, most significant byte
// first, is here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
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

// Stores `sample` at `index` most significant byte first: the only way a sample is
// put into a plane's bytes or a picture file's.
inline void Store_sample(unsigned char* samples, size_t index, uint16_t sample)
{
    samples[2 * index] = static_cast<unsigned char>(sample >> 8);
    samples[2 * index + 1] = static_cast<unsigned char>(sample & 0xFF);
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
