// A small look at a frame, 'quicklook.png': the corrected green picture (as
// 'linearlyscaledG.PGM' holds it, marker lines included) reduced to 800 pixels
// across with a red frame where the crop lies, and beside it a crop along the beam
// around the given pixel at full resolution, each pixel drawn 2 x 2; both brightened
// with a gamma of 2.2, as the sample scene's preview draws them.
#pragma once

#include <cstdint>
#include <string>

#include "base/failure.h"

// Writes the quicklook of the frame in the run state to `name` (replaced only once
// complete), the crop centred on (x, y) and kept inside the picture. Fails with
// code 6 when it can't be written.
Failure Write_quicklook(const std::string& name, int32_t x, int32_t y);
