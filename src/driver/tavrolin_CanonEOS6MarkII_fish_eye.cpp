// TAVROLIN: the brightness of a laser beam photographed from the side through a
// fish-eye lens, from the camera's raw frame as a 16-bit PGM. The run reads its
// settings, the beam path and the pictures, measures the sensor's dark levels,
// and writes the corrected green picture and the beam's data table.
//
// Exit codes: 0 complete run; 2 a picture that can't be used; 3 a picture that is
// not 16-bit; 4 configuration file missing or wrong; 5 path file missing or wrong,
// or a beam band outside the picture; 6 a product that could not be written.

#include <iostream>

#include "driver/keypress.h"
#include "driver/settings.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/levels.h"
#include "products/beam_signal.h"
#include "products/corrected_pgm.h"
#include "products/data_table.h"

namespace {

void Print_banner()
{
    std::cout << "Program TAVROLIN analyses the laser beam brightness from 16-bit PGM files \n"
                 "(can be created from RAW files using free DCRAW software).\n"
                 "Input PGM filename(s) and other parameters are read from 'tavrolinconfig.txt' file.\n"
                 "The path of the laser beam is read from 'tavrolinpath.txt' file.\n"
                 "The PGM file can be obtained from RAW file using DCRAW:\n"
                 "DCRAW -E -4 -W -j -t 0 <input RAW filename>\n"
                 "For visual check it is possible to obtain identical TIFF file:\n"
                 "DCRAW -E -4 -W -j -t 0 -T <input RAW filename>\n"
              << std::endl;
}

void Report_high_level_limit()
{
    if (correction > 1e-06) {
        std::cout << "High-level-limit of " << correction << " applied." << std::endl;
    } else {
        std::cout << "No high-level-limit applied." << std::endl;
    }
}

}  // namespace

int main()
{
    Print_banner();
    if (int code = Read_configuration()) return code;
    if (int code = Read_laser_path()) return code;
    if (int code = Read_pictures()) {
        Wait_for_key_press();
        return code;
    }
    Measure_levels();
    Report_high_level_limit();
    if (int code = Check_beam_bands()) return code;

    bool complete = true;
    std::cout << "Writing new 'linearlyscaledG.PGM' file..." << std::flush;
    if (Write_corrected_PGM()) {
        std::cout << "OK" << std::endl;
    } else {
        std::cout << "Can't write to 'linearlyscaledG.PGM' - file" << std::endl;
        complete = false;
    }
    std::cout << "Extracting tavrolin data into 'tavrolin_data.txt' file..." << std::flush;
    if (Write_green_data()) {
        std::cout << "OK" << std::endl;
    } else {
        complete = false;
    }
    Wait_for_key_press();
    return complete ? 0 : 6;
}
