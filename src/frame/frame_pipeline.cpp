#include "frame/frame_pipeline.h"

#include <ostream>

#include "base/console.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/pictures.h"
#include "measure/beam_signal.h"
#include "products/corrected_pgm.h"
#include "products/data_table.h"

namespace {

// The corrected picture with its console line.
Failure Corrected_picture_stage()
{
    Console() << "Writing new '" << corrected_picture_name << "' file..." << std::flush;
    const Failure failure = Write_corrected_PGM();
    if (failure) {
        Console() << "Can't write to '" << corrected_picture_name << "' - file" << std::endl;
        Advice() << Product_failure_advice(failure) << std::endl;
    } else {
        Console() << "OK" << std::endl;
    }
    return failure;
}

// The data table of the measured beam signal with its console lines.
Failure Data_table_stage(const GreenData& green)
{
    Console() << "Extracting tavrolin data into '" << data_table_name << "' file..." << std::flush;
    const Failure failure = Write_green_data(green);
    if (!failure) Console() << "OK" << std::endl;
    return failure;
}

}  // namespace

void Report_high_level_limit()
{
    if (correction > 1e-06) {
        Console() << "High-level-limit of " << correction << " applied." << std::endl;
    } else {
        Console() << "No high-level-limit applied." << std::endl;
    }
}

FrameMeasurement Measure_frame(const FrameOptions& options)
{
    FrameMeasurement frame;
    if ((frame.failure = Read_pictures())) return frame;
    Measure_levels();
    frame.has_levels = true;
    frame.levels = Measured_levels();
    Report_high_level_limit();
    if ((frame.failure = Check_beam_bands())) return frame;

    if (options.write_picture) {
        if (Failure failure = Corrected_picture_stage()) frame.failure = failure;
    }
    frame.green = Measure_green_data();
    frame.has_signal = true;
    if (options.write_table) {
        if (Failure failure = Data_table_stage(frame.green)) frame.failure = failure;
    }
    if (options.uncertainties) {
        Measure_uncertainties(frame.green.coefficient, frame.green.row90, options.imposed_gain,
                              options.saturation);
        frame.uncertainty = Measured_uncertainty();
        frame.has_uncertainty = true;
    }
    return frame;
}
