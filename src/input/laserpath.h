// The beam's course across the picture: the path file 'tavrolinpath.txt' and the
// beam's column at any row, interpolated between the path points.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/run_codes.h"

// A path point: column x, then row y, in whole-frame pixel coordinates.
struct PathPoint {
    int32_t x;
    int32_t y;
};

extern std::vector<PathPoint> laserpath;   // sorted by ascending row after the path stage
extern PathPoint point;                    // scratch point used while reading

// Ordering of path points for the sort: by row only.
bool Compare(PathPoint a, PathPoint b);

// The most points a path may have: a whole frame has 4224 rows, and the points
// are held in memory (8 bytes each); more are refused as the file is read.
constexpr size_t most_path_points = size_t{1} << 20;

// Reads whitespace-separated decimal pairs x y from `in` and appends them to
// `laserpath` (unsorted); a last number without a partner is dropped, a UTF-8
// byte-order mark at the start skipped. Fails with code 5 and what is wrong with the
// first token that is not a decimal integer in the signed 32-bit range, has more than
// 64 characters (refused without reading the rest) or holds a NUL byte, or when the
// file holds more than `most_path_points` points.
Failure Parse_laser_path(std::istream& in);

// The path stage: reads `file` (by default 'tavrolinpath.txt' in the working folder;
// the console names it 'tavrolinpath.txt' either way), sorts the points by row and
// reports their number. Fails with code 5 after its console line: the file missing,
// unreadable or not a regular file, a bad token, or fewer than two distinct rows.
Failure Read_laser_path(const std::string& file = path_file_name);

// The beam's column at row y: linear interpolation between the bracketing path
// points (slope as a 32-bit float, result truncated toward zero), or -1 above the
// first or below the last point. Depends on y only.
int32_t Getpathx(int32_t y);
