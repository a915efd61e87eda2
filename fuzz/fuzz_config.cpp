// Fuzzes the reading of 'tavrolinconfig.txt': any bytes must give either settings
// that the later stages can work with or a message, never a crash or an overflow.
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "base/settings.h"
#include "input/configuration.h"
#include "fuzz_check.h"
#include "input/pgm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reset_run_parameters();
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const std::string failure = Parse_configuration(in).reason;

    Require(std::memchr(filename, '\0', filename_capacity) != nullptr &&
                std::memchr(filename_bckg, '\0', filename_capacity) != nullptr,
            "file names stay within their buffers");
    if (!failure.empty()) {
        Require(failure.find("'tavrolinconfig.txt'") != std::string::npos,
                "a refusal names the configuration file");
        Require_shown_safely(failure);
        return 0;
    }
    Require(laserdistance > 0.0f, "accepted laser distance is above 0");
    Require(elevation > -180.0f && elevation < 180.0f, "accepted elevation lies within +-180 degrees");
    Require(pathwidth >= 1, "accepted half width is at least 1");
    Require(sidescale >= 1, "accepted sidescale is at least 1");
    Require(median >= 0, "accepted median is not negative");
    Require(rmax > 0, "accepted rmax is positive");

    // The centre square size decides how large a frame must be: the check must
    // cope with any accepted value.
    const int32_t frames[][2] = {{6384, 4224}, {2, 2}, {2147483646, 2}, {65534, 65534}};
    for (const auto& frame : frames) {
        Check_frame_size("fuzz.pgm", frame[0], frame[1]);
        // The image circle must fit any frame: the refusal names the parameter.
        const std::string refusal = Check_settings_for_picture("fuzz.pgm", frame[0], frame[1]).reason;
        if (refusal.empty()) {
            Require(xcentre >= 0 && xcentre < frame[0] && ycentre >= 0 && ycentre < frame[1],
                    "an accepted image centre lies inside the picture");
        } else {
            Require(refusal.find("'fuzz.pgm'") != std::string::npos, "a refusal names the picture");
        }
    }
    return 0;
}
