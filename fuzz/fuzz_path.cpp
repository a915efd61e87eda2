// Fuzzes the reading of 'tavrolinpath.txt' and the interpolation along the points
// read: any bytes must give points or a message, and any row a column or -1.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "input/laserpath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    laserpath.clear();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const std::string failure = Parse_laser_path(in).reason;
    if (!failure.empty()) {
        Require(failure.find("'tavrolinpath.txt'") != std::string::npos,
                "a refusal names the path file");
        Require_shown_safely(failure);
        return 0;
    }
    if (laserpath.empty()) return 0;
    std::sort(laserpath.begin(), laserpath.end(), Compare);

    const PathPoint first = laserpath.front();
    const PathPoint last = laserpath.back();
    Require(Getpathx(first.y) == first.x, "the first point's row gives its column");
    if (first.y > std::numeric_limits<int32_t>::min()) {
        Require(Getpathx(first.y - 1) == -1, "a row above the path gives -1");
    }
    if (last.y < std::numeric_limits<int32_t>::max()) {
        Require(Getpathx(last.y + 1) == -1, "a row below the path gives -1");
    }
    if (first.y != last.y) Require(Getpathx(last.y) == last.x, "the last point's row gives its column");

    // Rows between and at the points, including those that interpolate between
    // coordinates far apart.
    const int64_t middle = (int64_t{first.y} + last.y) / 2;
    Getpathx(static_cast<int32_t>(middle));
    for (size_t i = 0; i < laserpath.size() && i < 16; ++i) {
        Getpathx(laserpath[i].y);
        if (laserpath[i].y < std::numeric_limits<int32_t>::max()) Getpathx(laserpath[i].y + 1);
    }
    return 0;
}
