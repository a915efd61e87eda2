// When each frame of a night was taken, and with which camera: from the raw file's
// own metadata, from a file of times, or from the file's modification time; and the
// times as ISO 8601 text (UTC).
#pragma once

#include <map>
#include <string>

#include "base/failure.h"
#include "input/camera_facts.h"

// The time sources, as night.json names them.
constexpr const char* time_from_times_file = "times_file";
constexpr const char* time_from_camera = "camera";
constexpr const char* time_from_file = "file_modified";

struct FrameTime {
    bool known = false;
    double time = 0.0;         // seconds since 1970-01-01 00:00:00 UTC, clock offset applied
    std::string source;        // one of the time sources above
    bool has_camera = false;   // the frame is a raw file whose metadata was read
    CameraFacts camera;
};

// `seconds` since 1970 UTC as "YYYY-MM-DDTHH:MM:SSZ", with milliseconds when the time
// has a fraction of a second ("...:SS.mmmZ").
std::string Iso_time(double seconds);

// Reads an ISO 8601 time "YYYY-MM-DDTHH:MM:SS", optionally with a fraction of a second
// and a zone, "Z" or "+HH:MM" / "-HH:MM" (none: UTC). False when `text` is not one.
bool Parse_iso_time(const std::string& text, double& seconds);

// Reads a file of lines "frame-file time" (blank lines and lines starting with # are
// skipped) into `times`, keyed by the frame's file as written. Fails with code 64 and
// the file's name and line for a line of another form or a file that can't be read.
Failure Read_times_file(const std::string& name, std::map<std::string, double>& times);

// The time of frame `file`: its entry in `times` (by the name as given or by its file
// name alone), else the capture time that its raw metadata holds, else its file's
// modification time; `clock_offset` seconds are added to each. Unknown when none can
// be had (a missing file, or one that is not a regular file).
FrameTime Date_frame(const std::string& file, const std::map<std::string, double>& times, double clock_offset);
