// The 16-bit binary PGM pictures (as DCRAW writes the raw sensor mosaic) and the
// image planes that hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// An image plane: the samples of one picture in row-major order, the sample at
// column x and row y at index hsize * y + x. Every sample is a 16-bit value of the
// file (0 to 65535), which a 32-bit float holds exactly.
using ImagePlane = std::vector<uint16_t>;

extern int32_t hsize;        // width of the laser picture
extern int32_t vsize;        // height of the laser picture
extern int32_t resolution;   // maximum value of the laser picture
extern ImagePlane value;         // the laser picture
// The dark picture. For "NODARK" the plane holds no samples and reads as a plane of
// zeros of the laser picture's size: every reader of it takes an empty dark plane so.
extern ImagePlane value_bckg;

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

// Skips the separator after the maximum value, then reads `count` big-endian samples
// into `plane`, after checking that the input holds them all. Returns an empty text,
// or the reason naming `name` (truncated, or not enough memory for the plane).
std::string Read_pgm_samples(std::istream& in, const std::string& name, size_t count,
                             ImagePlane& plane);

// The picture stage: reads the laser picture and the dark picture (or leaves the dark
// plane empty, the plane of zeros, for "NODARK"). Returns 0 to go on, or the exit code that ends the run: 2 for
// a picture that is not a usable 16-bit PGM (or a plane there is no memory for), 3
// for a maximum value other than 65535, 4 for an image centre outside the laser
// picture or an rmax beyond its diagonal (Check_settings_for_picture).
int Read_pictures();
