// Each frame's 'profile.tsv': the data table's lines, each followed by the row's
// uncertainties and flags.
#pragma once

#include <string>
#include <vector>

#include "base/failure.h"
#include "measure/beam_table.h"
#include "measure/scattering.h"
#include "measure/uncertainty.h"

// The columns after the data table's ten.
extern const std::vector<std::string> row_profile_columns;

// Writes the lines `rows` (those of the processed rows, in order), each followed by
// its uncertainties `sigmas` and its scattering function `scattering`, to `name`
// with a header line; replaced only once complete. Fails with code 6 when it can't
// be written.
Failure Write_row_profile(const std::string& name, const std::vector<TableRow>& rows,
                          const std::vector<RowUncertainty>& sigmas,
                          const std::vector<RowScattering>& scattering);
