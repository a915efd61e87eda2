// The night as one netCDF-4 file following the CF conventions, 'night.nc', for
// xarray and the other tools of atmospheric science: per measured frame (dimension
// `time`) and processed row (dimension `row`) each row's signals, their sigmas, flags
// and background; per row the geometry and the night's combined profile; per frame
// its coefficient, gain and camera settings; the night's settings and inputs as
// global attributes.
#pragma once

#include <string>
#include <vector>

#include "base/failure.h"
#include "night/night_profile.h"
#include "night/night_record.h"
#include "night/night_scattering.h"

// A global attribute: a text, or a number when `text` is empty and `is_number` set.
struct NetcdfAttribute {
    std::string name;
    std::string text;
    double number = 0.0;
    bool is_number = false;
};

// A scalar variable of the site or the laser (latitude, wavelength, ...), written
// only when given.
struct NetcdfScalar {
    std::string name;
    std::string units;
    std::string standard_name;   // empty: none
    std::string long_name;
    double value = 0.0;
};

// Writes `file` (replaced only once complete) from the frames' records (the measured
// ones become the time axis, in the order given) and the night's combined profile
// (the row axis), with the night's scattering function per row and its aerosol fit as
// global attributes when given. Fails with code 6 and the netCDF library's reason.
Failure Write_night_netcdf(const std::string& file, const std::vector<FrameRecord>& frames,
                           const std::vector<ProfileRow>& profile, const std::vector<NetcdfAttribute>& attributes,
                           const std::vector<NetcdfScalar>& scalars,
                           const NightScattering* scattering = nullptr);
