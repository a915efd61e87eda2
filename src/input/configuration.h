// The configuration file 'tavrolinconfig.txt': its twelve positional tokens read
// into the run parameters (base/settings.h), and the checks of the settings that
// need the laser picture's size.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "base/failure.h"
#include "base/run_codes.h"

// Reads the twelve positional tokens from `in` into the run parameters and halves
// `pathwidth`. A UTF-8 byte-order mark at the start is skipped. Fails with code 4 and
// the reason the settings can't be used: a token that is not a number of its
// parameter's type, a file name of more than 1023 or a number of more than 64
// characters (refused without reading the rest), a NUL byte, or a value that no
// set-up can have (a laser distance not above 0, an elevation of 180 degrees or more
// either way) or the later stages cannot work with.
Failure Parse_configuration(std::istream& in);

// The settings that need the laser picture's size `width` x `height` (positive): the
// image centre must lie inside the picture and `rmax` be at most its diagonal. Fails
// with the configuration's exit code 4 and the reason naming the parameter and the
// picture `name`.
Failure Check_settings_for_picture(const std::string& name, int32_t width, int32_t height);

// The configuration stage: announces itself, reads `file` (by default
// 'tavrolinconfig.txt' in the working folder) and reports; the console names the file
// 'tavrolinconfig.txt' either way. Fails with code 4 after its console line.
Failure Read_configuration(const std::string& file = config_file_name);
