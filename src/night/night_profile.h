// The night's profile 'night_profile.tsv': per processed row the row's geometry (the
// same for every frame of a night) and the spread of the frames' normalised signal:
// how many frames measured the row, their mean, the standard error of the mean (the
// sample standard deviation over the square root of the count), the standard error
// the frames' own uncertainties predict and chi^2 per degree of freedom, and their
// median (the element at index count / 2 once sorted, as the system takes a median).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "measure/scattering.h"
#include "night/night_record.h"

struct ProfileRow {
    int32_t x;
    int32_t y;
    float r;
    float theta;
    float height;
    float distance;
    float alpha;
    int32_t frames = 0;
    double mean = 0.0;
    double sem = 0.0;     // NaN for a single frame
    // The standard error of the mean that the frames' own sigmas predict,
    // sqrt(sum sigma_i^2) / n, and chi^2 per degree of freedom of the frames around
    // their mean, sum ((s_i - mean) / sigma_i)^2 / (n - 1) (NaN for a single frame).
    // Both NaN when a frame of the row has no sigma.
    double sem_predicted = 0.0;
    double chi2 = 0.0;
    float median = 0.0f;
};

// Combines the rows of the measured frames, row by row in the order of the first
// measured frame's table; a row that another frame lacks is left out of its count.
// The frames' sigmas of the normalised signal go into the predicted standard error
// and chi^2.
std::vector<ProfileRow> Combine_profile(const std::vector<FrameRecord>& frames);

// The columns after the geometry's seven.
extern const std::vector<std::string> night_profile_columns;

// The 1-based number of the profile's column `name`, as gnuplot counts them.
int Night_profile_column(const std::string& name);

// Writes the profile with its header line to `name`, replaced only once complete,
// each row followed by its scattering function and the fitted model `fit_model`
// (NaN where there is none). Fails with code 6 when it can't be written.
Failure Write_night_profile(const std::string& name, const std::vector<ProfileRow>& profile,
                            const std::vector<RowScattering>& scattering = {},
                            const std::vector<double>& fit_model = {});
