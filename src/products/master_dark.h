// The master dark of a night: the per-pixel median of several dark pictures.
//
// The darks are read block by block of rows, one block of each dark in memory at a
// time, so that memory does not grow with the frame size times the number of darks.
// Each pixel's samples are sorted ascending and the one at index count / 2 is taken
// (the upper of the two middle samples for an even count), so the master dark holds
// exact 16-bit samples, as a dark picture does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Rows of each dark held at a time while combining.
constexpr int32_t master_dark_block_rows = 64;

// Per-pixel median of `samples.size()` equally long runs of `count` samples each,
// into `median[0 .. count)`. `samples` must not be empty.
void Median_of_samples(const std::vector<const uint16_t*>& samples, size_t count,
                       uint16_t* median);

// Combines the darks `names` (each a 16-bit binary PGM of the same size) into the
// 16-bit binary PGM `output`, replaced only once it is complete. Returns an empty
// text, or the reason naming the file that can't be used or written.
std::string Write_master_dark(const std::vector<std::string>& names, const std::string& output,
                              int32_t block_rows = master_dark_block_rows);
