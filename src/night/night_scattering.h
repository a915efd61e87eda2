// The night's scattering function: beta.rel from the night's combined net signal
// (frames scaled to one another and averaged by their inverse variances; without
// that combination, the mean of the frames' normalised signals), the molecular
// reference, and the aerosol fit over the rows the combination used. The footprint
// is the same for every frame of a night.
#pragma once

#include <vector>

#include "measure/scattering.h"
#include "model/air.h"
#include "night/night_profile.h"
#include "night/night_record.h"

struct NightScattering {
    bool formed = false;
    bool from_combined_net = false;    // from the combination's net signal, not the mean
    std::vector<RowScattering> rows;   // per row of the night's profile
    AerosolFit fit;
};

// Needs the configuration and the path read (the geometry of every frame). `row90`:
// the night's 90-degree row (-1: the first measured frame's).
NightScattering Night_scattering(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                                 const AirSettings& air, int32_t row90 = -1);

// night.json's "scattering" block: the molecular reference's settings and constants,
// and the night's fit.
nlohmann::json Scattering_to_json(const NightScattering& scattering, const AirSettings& air);
