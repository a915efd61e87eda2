// TAVROLIN: the brightness of a laser beam photographed from the side through a
// fish-eye lens, from the camera's raw frame (the raw file, or DCRAW's 16-bit PGM of
// it). The run reads its settings, the beam path and the pictures, measures the
// sensor's dark levels, and writes the corrected green picture and the beam's data
// table.
//
// The run, one stage after the other, each leaving its results in the run state:
//  1. the banner;
//  2. the settings from the configuration file (ends with code 4 when wrong);
//  3. the beam path from the path file, sorted by row (code 5);
//  4. the laser picture, then the dark picture or none (codes 2 and 3, after the
//     key-press wait; code 4, without it, for an image centre or rmax that doesn't
//     fit the picture);
//  5. the highest and lowest level, the dark levels of the covered pixels and the
//     centre square's mean levels;
//  6. the report of the high-level limit;
//  7. the check that every processed row's bands lie inside the picture (code 5);
//  8. the corrected green picture;
//  9. the beam's net signal along the path and the data table;
// 10. the key-press wait, then code 0, or 6 when a product could not be written.
// The codes and their meanings are in driver/run_codes.h.

#include <ostream>

#include "driver/console.h"
#include "driver/keypress.h"
#include "driver/run_codes.h"
#include "driver/settings.h"
#include "driver/signals.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/levels.h"
#include "products/beam_signal.h"
#include "products/corrected_pgm.h"
#include "products/data_table.h"
#include "products/output_file.h"

int main()
{
    Install_signal_handlers();
    Print_banner();
    if (int code = Read_configuration()) return code;
    if (int code = Read_laser_path()) return code;
    if (int code = Read_pictures()) {
        // Settings that don't fit the picture end the run as the configuration does.
        if (code != exit_bad_configuration) Wait_for_key_press();
        return code;
    }
    Measure_levels();
    Report_high_level_limit();
    if (int code = Check_beam_bands()) return code;

    bool complete = true;
    Console() << "Writing new '" << corrected_picture_name << "' file..." << std::flush;
    if (Write_corrected_PGM()) {
        Console() << "OK" << std::endl;
    } else {
        Console() << "Can't write to '" << corrected_picture_name << "' - file" << std::endl;
        Advice() << Product_failure_reason() << std::endl;
        complete = false;
    }
    Console() << "Extracting tavrolin data into '" << data_table_name << "' file..." << std::flush;
    if (Write_green_data()) {
        Console() << "OK" << std::endl;
    } else {
        complete = false;
    }
    Wait_for_key_press();
    return complete ? exit_complete : exit_product_not_written;
}
