// Dark (zero) levels of the sensor, measured on its covered pixels, and the picture
// statistics reported with them.
#pragma once

extern float maxvalue;      // highest sample of the laser picture
extern float minvalue;      // lowest sample of the laser picture
extern float zero_level;    // mean raw sample of the laser picture on the covered pixels
extern float zero_level_R;  // dark levels per channel of the laser picture ...
extern float zero_level_G;
extern float zero_level_B;
extern float zero_level_R_bckg;  // ... and of the dark picture
extern float zero_level_G_bckg;
extern float zero_level_B_bckg;

extern double centre_level_R;   // mean net levels of the square at the middle of
extern double centre_level_G;   // the active picture area
extern double centre_level_B;

// The level computation: finds the highest and lowest sample, measures the dark
// levels of both pictures on the covered areas (from then on every colour reading is
// dark-corrected), and the mean net levels of the centre square. Prints nothing.
void Compute_levels();

// The level report: the stage's seven console lines, from the levels computed.
void Report_levels();

// The level stage as a run has it: the computation, then its report.
void Measure_levels();

// The levels of one frame as the level stage left them, kept with what the frame
// measured.
struct FrameLevels {
    float highest = 0.0f;
    float lowest = 0.0f;
    float zero_level = 0.0f;
    float zero_level_R = 0.0f, zero_level_G = 0.0f, zero_level_B = 0.0f;
    float zero_level_R_bckg = 0.0f, zero_level_G_bckg = 0.0f, zero_level_B_bckg = 0.0f;
};
FrameLevels Measured_levels();
