// The master dark of a night: the per-pixel median of several dark pictures, each a
// 16-bit PGM or the camera's raw file, read by the same reader as every picture
// (input/pictures.h).
//
// Each pixel's samples are sorted ascending and the one at index count / 2 is taken
// (the upper of the two middle samples for an even count), so the master dark holds
// exact 16-bit samples, as a dark picture does. A PGM dark is read where it is mapped;
// a raw dark is decoded whole into memory (some 54 MB for a frame of the camera).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"

// Rows combined at a time: one block of each dark is in the cache at once.
constexpr int32_t master_dark_block_rows = 64;

// Per-pixel median of `samples.size()` equally long runs of `count` samples each,
// into `median[0 .. count)`. `samples` must not be empty.
void Median_of_samples(const std::vector<const uint16_t*>& samples, size_t count,
                       uint16_t* median);

// Checks the darks before anything is combined or measured: each within the frame
// limit (input/pgm.h), all of one size, and of the size of the first frame when its
// header can be read. Fails with code 2 and the reason naming the dark.
Failure Check_dark_sizes(const std::vector<std::string>& names, const std::string& first_frame);

// Combines the darks `names` (each a 16-bit picture, all of the same size) into the
// 16-bit binary PGM `output`, replaced only once it is complete. Fails with code 2
// and the reason naming the dark that can't be used, or with code 6 when the master
// dark can't be written.
Failure Write_master_dark(const std::vector<std::string>& names, const std::string& output,
                          int32_t block_rows = master_dark_block_rows);
