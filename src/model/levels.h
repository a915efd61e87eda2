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

// The level stage: finds the highest and lowest sample, measures the dark levels of
// both pictures on the covered areas (from then on every colour reading is
// dark-corrected), and reports the mean net levels of the square at the middle of
// the active picture area. Prints its seven console lines.
void Measure_levels();
