// The data table 'tavrolin_data.txt': the lines the beam-signal stage measured
// (measure/beam_table.h), one per processed row, after a header line.
#pragma once

#include "base/failure.h"
#include "measure/beam_table.h"

// Writes the table of `data` into the product folder, with the stage's console
// lines: once the table is open, an end of line and the scaling-coefficient line;
// when it can't be written, "Can't write to 'tavrolin_data.txt' - file" (and the
// system's reason on the advice stream). Fails with code 6 then; an earlier table is
// left as it was.
Failure Write_green_data(const GreenData& data);
