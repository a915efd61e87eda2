// The corrected green picture 'linearlyscaledG.PGM'.
#pragma once

// Writes the green channel of the laser picture less that of the dark picture,
// divided by the lens sensitivity, cut at 0 and at the high-level limit, with the
// four marker lines of the beam band, scaled linearly to the full 16-bit range.
// Prints nothing. Returns false when the file could not be written completely (an
// earlier file of that name is then left as it was).
bool Write_corrected_PGM();
