#include "night/night_times.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "base/run_codes.h"

std::string Iso_time(double seconds)
{
    double whole = std::floor(seconds);
    long milliseconds = std::lround((seconds - whole) * 1000.0);
    if (milliseconds == 1000) {
        whole += 1.0;
        milliseconds = 0;
    }
    const std::time_t stamp = static_cast<std::time_t>(whole);
    std::tm utc;
    gmtime_r(&stamp, &utc);
    char text[48];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    if (milliseconds != 0) {
        std::snprintf(text + length, sizeof text - length, ".%03ldZ", milliseconds);
    } else {
        std::snprintf(text + length, sizeof text - length, "Z");
    }
    return text;
}

bool Parse_iso_time(const std::string& text, double& seconds)
{
    std::tm fields{};
    const char* rest = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &fields);
    if (rest == nullptr) return false;
    // strptime takes a 60th second and a day beyond the month's end; the time must be
    // one that exists.
    std::tm checked = fields;
    const std::time_t whole = timegm(&checked);
    if (checked.tm_mday != fields.tm_mday || checked.tm_hour != fields.tm_hour || checked.tm_sec != fields.tm_sec) {
        return false;
    }
    double fraction = 0.0;
    if (*rest == '.' || *rest == ',') {
        const char* digits = ++rest;
        double scale = 0.1;
        while (*rest >= '0' && *rest <= '9') {
            fraction += (*rest - '0') * scale;
            scale /= 10.0;
            ++rest;
        }
        if (rest == digits) return false;
    }
    long offset = 0;
    if (*rest == 'Z') {
        ++rest;
    } else if (*rest == '+' || *rest == '-') {
        int hours = 0, minutes = 0, used = 0;
        if (std::sscanf(rest + 1, "%2d:%2d%n", &hours, &minutes, &used) != 2 || used != 5 || hours > 23 ||
            minutes > 59) {
            return false;
        }
        offset = (hours * 60L + minutes) * 60L * (*rest == '-' ? -1 : 1);
        rest += 1 + used;
    }
    if (*rest != '\0') return false;
    seconds = double(whole) - double(offset) + fraction;
    return true;
}

Failure Read_times_file(const std::string& name, std::map<std::string, double>& times)
{
    std::ifstream file(name);
    if (!file) return Failure{exit_usage, "can't read the times file '" + name + "'"};
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        std::istringstream words(line);
        std::string frame, time, more;
        if (!(words >> frame) || frame[0] == '#') continue;
        double seconds = 0.0;
        if (!(words >> time) || (words >> more) || !Parse_iso_time(time, seconds)) {
            return Failure{exit_usage, name + ":" + std::to_string(number) +
                                           ": not a line 'frame-file YYYY-MM-DDTHH:MM:SS[Z]'"};
        }
        times[frame] = seconds;
    }
    if (file.bad()) return Failure{exit_usage, "can't read the times file '" + name + "'"};
    return {};
}

FrameTime Date_frame(const std::string& file, const std::map<std::string, double>& times, double clock_offset)
{
    FrameTime dated;
    struct stat status;
    const bool regular = stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode);
    // Only a regular file is opened: a named pipe would wait for a writer.
    dated.has_camera = regular && Read_camera_facts(file, dated.camera);
    const size_t slash = file.find_last_of('/');
    auto listed = times.find(file);
    if (listed == times.end() && slash != std::string::npos) listed = times.find(file.substr(slash + 1));
    if (listed != times.end()) {
        dated.time = listed->second;
        dated.source = time_from_times_file;
    } else if (dated.has_camera && dated.camera.has_time) {
        dated.time = double(dated.camera.time);
        dated.source = time_from_camera;
    } else if (regular) {
        dated.time = double(status.st_mtim.tv_sec) + double(status.st_mtim.tv_nsec) * 1e-9;
        dated.source = time_from_file;
    } else {
        return dated;
    }
    dated.known = true;
    dated.time += clock_offset;
    return dated;
}
