#include "input/camera_facts.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>

#include <libraw/libraw.h>

namespace {

// The process's time zone set to UTC while it lives, and put back after.
// LibRaw turns the EXIF reading "YYYY:MM:DD HH:MM:SS" into a time with mktime, that
// is in the local time zone (a reading in the hour skipped in spring would move by an
// hour on the way back through localtime); with the zone set to UTC, mktime is
// the inverse of gmtime and the reading comes out unchanged as UTC.
class UtcZone {
public:
    UtcZone()
    {
        const char* zone = std::getenv("TZ");
        had_ = zone != nullptr;
        if (had_) saved_ = zone;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    ~UtcZone()
    {
        if (had_) {
            setenv("TZ", saved_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    UtcZone(const UtcZone&) = delete;
    UtcZone& operator=(const UtcZone&) = delete;

private:
    bool had_ = false;
    std::string saved_;
};

// A text field of the metadata as printable ASCII: a camera may leave bytes of any
// value in its fixed-size fields.
std::string Printable(const char* text, size_t capacity)
{
    std::string kept;
    for (size_t i = 0; i < capacity && text[i] != '\0'; ++i) {
        if (text[i] >= 0x20 && text[i] < 0x7F) kept += text[i];
    }
    const size_t end = kept.find_last_not_of(' ');
    return end == std::string::npos ? "" : kept.substr(0, end + 1);
}

// A value LibRaw keeps as a float, as the decimal it was written as (f/2.8, not
// 2.7999999523); 0 for none.
double Decimal(float value)
{
    if (!(value > 0.0f)) return 0.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", double{value});
    return std::strtod(text, nullptr);
}

}  // namespace

bool Read_camera_facts(const std::string& name, CameraFacts& facts)
{
    facts = CameraFacts();
    const auto raw = std::make_unique<LibRaw>();
    {
        const UtcZone utc;
        const int status = raw->open_file(name.c_str());
        if (status == LIBRAW_UNSUFFICIENT_MEMORY) throw std::bad_alloc();
        if (status != LIBRAW_SUCCESS) return false;
    }
    const libraw_imgother_t& other = raw->imgdata.other;
    facts.has_time = other.timestamp > 0;
    facts.time = static_cast<int64_t>(other.timestamp);
    facts.exposure = Decimal(other.shutter);
    facts.iso = Decimal(other.iso_speed);
    facts.aperture = Decimal(other.aperture);
    facts.focal_length = Decimal(other.focal_len);
    const libraw_iparams_t& about = raw->imgdata.idata;
    const libraw_shootinginfo_t& shooting = raw->imgdata.shootinginfo;
    facts.make = Printable(about.make, sizeof about.make);
    facts.model = Printable(about.model, sizeof about.model);
    facts.body_serial = Printable(shooting.BodySerial, sizeof shooting.BodySerial);
    if (facts.body_serial.empty()) {
        facts.body_serial = Printable(shooting.InternalBodySerial, sizeof shooting.InternalBodySerial);
    }
    return true;
}
