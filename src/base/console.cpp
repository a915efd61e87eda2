#include "base/console.h"

#include <iostream>

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

Failure End_stage(Failure failure)
{
    Console() << failure.reason << ", ending..." << std::endl;
    return failure;
}

Failure End_stage(int code, const std::string& reason)
{
    return End_stage(Failure{code, reason});
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
