#include "driver/console.h"

#include <iostream>

#include "driver/settings.h"

std::string stage_failure;

namespace {

std::ostream* console_stream = nullptr;   // none chosen: standard output
std::ostream* advice_stream = nullptr;    // none chosen: standard error

}  // namespace

std::ostream& Console()
{
    return console_stream ? *console_stream : std::cout;
}

void Use_console(std::ostream& stream)
{
    console_stream = &stream;
}

std::ostream& Advice()
{
    return advice_stream ? *advice_stream : std::cerr;
}

void Use_advice(std::ostream& stream)
{
    advice_stream = &stream;
}

int End_stage(int code, const std::string& reason)
{
    stage_failure = reason;
    Console() << reason << ", ending..." << std::endl;
    return code;
}

void Print_banner()
{
    Console() << "Program TAVROLIN analyses the laser beam brightness from 16-bit PGM files \n"
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
        Console() << "High-level-limit of " << correction << " applied." << std::endl;
    } else {
        Console() << "No high-level-limit applied." << std::endl;
    }
}
