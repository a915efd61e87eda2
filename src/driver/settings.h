// Run parameters, the fixed sensor areas of the camera, and the configuration file.
//
// The parameters hold their built-in defaults until the configuration stage
// overrides them from 'tavrolinconfig.txt'; from then on every stage only reads them.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "driver/run_codes.h"

// A rectangle of sensor pixels, from column x_from and row y_from to x_to and y_to.
// The two kinds of area read their upper bounds differently: a covered area
// (`border`) ends before them (x_from <= x < x_to, y_from <= y < y_to), the active
// picture area (`picture`) includes them (x_from <= x <= x_to, y_from <= y <= y_to).
// Every use says which it reads.
struct PixelArea {
    int32_t x_from;
    int32_t x_to;
    int32_t y_from;
    int32_t y_to;
};

// Fixed areas of the Canon EOS 6D Mark II raw frame: the covered (masked) pixels,
// upper bounds exclusive, and the active picture area, upper bounds inclusive.
// Nothing changes them.
extern const int32_t border_no;
extern const PixelArea border[2];
extern const PixelArea picture;

// Run parameters, in the order of their tokens in the configuration file.
constexpr int filename_capacity = 1024;   // 1023 characters and the terminating NUL
extern char filename[filename_capacity];
extern char filename_bckg[filename_capacity];
extern float laserdistance;
extern float elevation;
extern int32_t pathwidth;    // the half width of the beam band once the file is read
extern int32_t sidescale;
extern int32_t median;
extern float correction;
extern int32_t center_size;
extern int32_t xcentre;
extern int32_t ycentre;
extern int32_t rmax;

// Puts every run parameter back to its built-in default (for tests and fuzzing).
void Reset_run_parameters();

// Reads the twelve positional tokens from `in` into the run parameters and halves
// `pathwidth`. A UTF-8 byte-order mark at the start is skipped. Returns an empty text
// on success, otherwise the reason the settings can't be used: a token that is not a
// number of its parameter's type, a file name of more than 1023 or a number of more
// than 64 characters (refused without reading the rest), a NUL byte, or a value that
// no set-up can have (a laser distance not above 0, an elevation of 180 degrees or
// more either way) or the later stages cannot work with.
std::string Parse_configuration(std::istream& in);

// The settings that need the laser picture's size `width` x `height` (positive): the
// image centre must lie inside the picture and `rmax` be at most its diagonal.
// Returns an empty text, or the reason naming the parameter and the picture `name`;
// the picture stage then ends the run with the configuration's exit code 4.
std::string Check_settings_for_picture(const std::string& name, int32_t width, int32_t height);

// The configuration stage: announces itself, reads `file` (by default
// 'tavrolinconfig.txt' in the working folder) and reports; the console names the file
// 'tavrolinconfig.txt' either way. Returns 0 to go on, or the exit code 4 that ends
// the run, with the reason in `stage_failure`.
int Read_configuration(const std::string& file = config_file_name);
