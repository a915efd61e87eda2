// Fuzzes the PGM reader on a picture held in memory: identifier, header, size check
// and samples. Whatever the header declares, the samples are read only when the
// bytes are there, so a forged size can neither exhaust memory nor read past the end.
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "input/pgm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    std::string shown;
    const bool p5 = Read_pgm_identifier(in, shown);
    Require(shown.size() <= 2, "the identifier shows at most two bytes");
    if (!p5) return 0;

    int32_t width = 0, height = 0, maxval = 0;
    Read_pgm_header(in, width, height, maxval);
    const std::string refusal = Check_frame_size("fuzz.pgm", width, height);
    if (refusal.empty()) {
        Require(width > 0 && height > 0 && width % 2 == 0 && height % 2 == 0,
                "an accepted frame has positive even sizes");
        Require(int64_t{width} * height <= frame_sample_limit, "an accepted frame lies within the limit");
    } else {
        Require(refusal.find("'fuzz.pgm'") != std::string::npos, "a refusal names the picture");
    }

    // The samples of every size the header can declare, accepted frame or not:
    // fuzz inputs are far smaller than any frame the size check accepts.
    if (width <= 0 || height <= 0) return 0;
    const uint64_t count = uint64_t(uint32_t(width)) * uint32_t(height);
    ImagePlane plane;
    const std::string failure = Read_pgm_samples(in, "fuzz.pgm", count, plane);
    if (failure.empty()) {
        Require(plane.size() == count, "the plane holds the declared samples");
        // The samples are the 2 x count bytes before the reading position, most
        // significant byte first.
        const std::streamoff end = in.tellg();
        Require(end >= 0 && uint64_t(end) <= size && uint64_t(end) >= 2 * count,
                "the samples came from the input");
        const auto byte = [&](uint64_t at) { return static_cast<unsigned char>(bytes[at]); };
        const uint64_t first = uint64_t(end) - 2 * count;
        Require(plane.front() == (byte(first) << 8 | byte(first + 1)), "first sample big-endian");
        Require(plane.back() == (byte(end - 2) << 8 | byte(end - 1)), "last sample big-endian");
    } else {
        Require(failure.find("'fuzz.pgm'") != std::string::npos, "a refusal names the picture");
    }
    return 0;
}
