// Run parameters and the fixed sensor areas of the camera.
//
// The parameters hold their built-in defaults until the configuration stage
// (input/configuration.h) overrides them from 'tavrolinconfig.txt'; from then on
// every stage only reads them.
#pragma once

#include <cstdint>

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

// The side bands' outer edge from the path, 2 w sidescale columns: the band of a
// row reaches from x_P - reach to x_P + reach. Every stage that walks the side bands
// or draws their marker lines takes the reach from here.
inline int64_t Side_band_reach()
{
    return int64_t{2} * pathwidth * sidescale;
}
