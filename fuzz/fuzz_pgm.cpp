// Fuzzes the PGM reader on a picture held in memory: identifier, header, size check
// and samples. Whatever the header declares, the samples are read only when the
// bytes are there, so a forged size can neither exhaust memory nor read past the end.
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "input/pgm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
    Byte_stream in(*bytes);
    std::string shown;
    const bool p5 = Read_pgm_identifier(in, shown);
    Require(shown.size() <= 2, "the identifier shows at most two bytes");
    if (!p5) return 0;

    int32_t width = 0, height = 0, maxval = 0;
    Read_pgm_header(in, width, height, maxval);
    const std::string refusal = Check_frame_size("fuzz.pgm", width, height).reason;
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
    const auto* stored = reinterpret_cast<const unsigned char*>(bytes->data());
    const size_t at = in.Position();
    const std::string failure = Take_pgm_samples(bytes, stored, size, at, "fuzz.pgm", count, plane).reason;
    if (failure.empty()) {
        Require(plane.size() == count, "the plane holds the declared samples");
        // The samples are the 2 x count bytes after the separator that follows the
        // header, most significant byte first.
        Require(at + 1 + 2 * count <= size, "the samples came from the input");
        const auto byte = [&](uint64_t offset) { return stored[offset]; };
        const uint64_t first = at + 1;
        const uint64_t end = first + 2 * count;
        Require(plane.front() == (byte(first) << 8 | byte(first + 1)), "first sample big-endian");
        Require(plane.back() == (byte(end - 2) << 8 | byte(end - 1)), "last sample big-endian");
    } else {
        Require(failure.find("'fuzz.pgm'") != std::string::npos, "a refusal names the picture");
        Require(plane.empty(), "a refused picture leaves the plane empty");
    }
    return 0;
}
