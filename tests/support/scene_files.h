// Writing the input files of a run into a folder: pictures, configuration, path.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace scene {

constexpr int32_t full_width = 6384;    // the camera's whole raw frame
constexpr int32_t full_height = 4224;

// A fresh, empty temporary folder; removed with everything in it by Remove_folder.
std::string Make_folder();
void Remove_folder(const std::string& folder);

// Writes a 16-bit PGM as DCRAW does ("P5", width and height, 65535, big-endian
// samples); `sample(x, y)` gives each sample.
void Write_pgm(const std::string& path, int32_t width, int32_t height,
               const std::function<uint16_t(int32_t, int32_t)>& sample);

// A small CFA DNG (RGGB, 16-bit samples) laid out as cameras and converters lay it
// out, its directory before its samples, so that a file cut short loses samples.
// With `lossless_jpeg` the compression tag says lossless JPEG (7) while the data are
// the plain samples: no JPEG stream at all.
std::string Dng_directory_first(int32_t width, int32_t height,
                                const std::function<uint16_t(int32_t, int32_t)>& sample,
                                bool lossless_jpeg = false);

// The same DNG holding `strip` as its samples' data, the compression tag `compression`
// (1 none, 7 lossless JPEG).
std::string Dng_with_strip(int32_t width, int32_t height, const std::string& strip, uint16_t compression);

// Appends `value` as 4 bytes, least significant first, as a little-endian TIFF holds it.
void Put_le32(std::string& to, uint32_t value);
// A little-endian TIFF's header and its one directory of `entries`, each {tag, type,
// count, value}; what the directory points to follows it.
std::string Tiff_directory(const std::vector<std::array<uint32_t, 4>>& entries);

// Samples as a lossless JPEG stream as DNG writers make it: one component of 16 bits,
// predictor 1, one Huffman table (5-bit codes for the 17 difference sizes). In parts,
// for tests that damage one: `header` from the start-of-image marker to the end of the
// scan header, `entropy` the coded samples (a 0xFF byte followed by 0x00), then the
// end-of-image marker.
struct LosslessJpeg {
    std::string header;
    std::string entropy;
    std::string Stream() const { return header + entropy + "\xFF\xD9"; }
};
LosslessJpeg Lossless_jpeg(int32_t width, int32_t height, const std::function<uint16_t(int32_t, int32_t)>& sample);

// Writes any bytes to a file.
void Write_file(const std::string& path, const std::string& bytes);
std::string Read_file(const std::string& path);

// The configuration text of the twelve tokens, defaults for the numbers.
std::string Config_text(const std::string& laser, const std::string& dark,
                        const std::string& numbers = "500 10 30 1 0 10000 100 3231 2139 2052");

// The path text of the points, one pair per line.
std::string Path_text(const std::vector<std::pair<int32_t, int32_t>>& points);

// The banner every run prints first, the empty line after it included.
extern const char* const banner;

struct RunResult {
    int exit_code;
    std::string console;
};

// Runs the program in `folder` with standard input from /dev/null.
RunResult Run(const std::string& program, const std::string& folder);

}  // namespace scene
