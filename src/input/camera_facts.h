// What a camera raw file says about its exposure: when it was taken and with which
// camera and settings, as LibRaw reads them from the file's metadata (for a DNG or a
// CR2, its EXIF).
#pragma once

#include <cstdint>
#include <string>

struct CameraFacts {
    // The capture time as seconds since 1970-01-01 00:00:00 UTC, the camera's clock
    // reading taken as UTC (EXIF keeps the reading without a time zone); set only
    // when the file holds one.
    bool has_time = false;
    int64_t time = 0;
    // Zero (or empty) where the file holds none.
    double exposure = 0.0;       // s
    double iso = 0.0;
    double aperture = 0.0;       // f-number
    double focal_length = 0.0;   // mm
    std::string make;
    std::string model;
    std::string body_serial;
};

// Reads the metadata of raw file `name`; false when LibRaw doesn't take it for a raw
// file (a PGM, say).
bool Read_camera_facts(const std::string& name, CameraFacts& facts);
