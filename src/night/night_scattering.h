// The night's scattering function: beta.rel from the night's combined profile (the
// mean of the frames' normalised signals, each the net signal over the frame's
// scaling coefficient), the molecular reference, and the aerosol fit over the rows
// that no frame found saturated or outside the image circle. The footprint is the
// same for every frame of a night.
#pragma once

#include <vector>

#include "measure/scattering.h"
#include "model/air.h"
#include "night/night_profile.h"
#include "night/night_record.h"

struct NightScattering {
    bool formed = false;
    std::vector<RowScattering> rows;   // per row of the night's profile
    AerosolFit fit;
};

// Needs the configuration and the path read (the geometry of every frame).
NightScattering Night_scattering(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                                 const AirSettings& air);

// night.json's "scattering" block: the molecular reference's settings and constants,
// and the night's fit.
nlohmann::json Scattering_to_json(const NightScattering& scattering, const AirSettings& air);
