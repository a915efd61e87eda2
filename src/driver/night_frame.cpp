#include "driver/night_frame.h"

#include <chrono>
#include <cstring>
#include <iostream>
#include <sstream>

#include "driver/console.h"
#include "driver/run_codes.h"
#include "driver/settings.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/levels.h"
#include "products/beam_signal.h"
#include "products/corrected_pgm.h"
#include "products/data_table.h"
#include "products/output_file.h"
#include "products/uncertainty.h"

namespace {

constexpr const char* console_name = "console.txt";

void Keep_levels(FrameRecord& record)
{
    record.has_levels = true;
    record.highest = maxvalue;
    record.lowest = minvalue;
    record.zero_level = zero_level;
    record.zero_level_R = zero_level_R;
    record.zero_level_G = zero_level_G;
    record.zero_level_B = zero_level_B;
    record.zero_level_R_bckg = zero_level_R_bckg;
    record.zero_level_G_bckg = zero_level_G_bckg;
    record.zero_level_B_bckg = zero_level_B_bckg;
}

// Runs the stages from the pictures on; returns the frame's exit code.
int Run_stages(const NightFrame& frame, FrameRecord& record)
{
    if (int code = Read_pictures()) return code;
    Measure_levels();
    Keep_levels(record);
    Report_high_level_limit();
    if (int code = Check_beam_bands()) return code;

    bool complete = true;
    if (frame.pictures) {
        Console() << "Writing new '" << corrected_picture_name << "' file..." << std::flush;
        if (Write_corrected_PGM()) {
            Console() << "OK" << std::endl;
        } else {
            Console() << "Can't write to '" << corrected_picture_name << "' - file" << std::endl;
            stage_failure = "Can't write '" + Product_path(corrected_picture_name) + "'";
            complete = false;
        }
    }
    Console() << "Extracting tavrolin data into '" << data_table_name << "' file..." << std::flush;
    GreenData data;
    if (Write_green_data(data)) {
        Console() << "OK" << std::endl;
    } else {
        stage_failure = "Can't write '" + Product_path(data_table_name) + "'";
        complete = false;
    }
    if (!data.rows.empty()) {   // computed (the path gives at least one processed row)
        // The rows' uncertainties: nothing of them goes to the console.
        Measure_uncertainties(data.coefficient, data.row90, frame.gain, frame.saturation);
        record.has_uncertainty = true;
        record.gain = frame_gain;
        record.gain_estimated = frame_gain_estimated;
        record.beam_found = beam_found;
        for (const RowUncertainty& row : row_uncertainty) record.sigma_signal.push_back(row.sigma_signal);
        if (!Write_row_profile(Product_path(row_profile_name), data.rows)) {
            stage_failure = "Can't write '" + Product_path(row_profile_name) + "'";
            complete = false;
        }
        record.has_signal = true;
        record.row90 = data.row90;
        record.x90 = Getpathx(data.row90);
        record.coefficient = data.coefficient;
        record.rows = std::move(data.rows);
    }
    return complete ? exit_complete : exit_product_not_written;
}

}  // namespace

std::string Frame_name(const std::string& file)
{
    const size_t slash = file.find_last_of('/');
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

FrameRecord Measure_frame(const NightFrame& frame, const std::string& preamble)
{
    const auto start = std::chrono::steady_clock::now();
    FrameRecord record;
    record.file = frame.file;
    record.name = frame.name;

    std::ostringstream console;
    Use_console(console);
    console << preamble;
    // A failed frame is named with its reason; the advice lines of a single run would
    // only repeat themselves frame after frame.
    std::ostringstream advice;
    Use_advice(advice);
    stage_failure.clear();
    product_folder = frame.folder;
    // The driver keeps both names within the capacity of the run parameters.
    std::snprintf(filename, filename_capacity, "%s", frame.file.c_str());
    std::snprintf(filename_bckg, filename_capacity, "%s", frame.dark.c_str());

    FileFacts facts;
    if (Read_file_facts(frame.file, facts).empty()) {
        record.has_facts = true;
        record.facts = facts;
    }
    record.code = Run_stages(frame, record);

    ProductFile transcript;
    const std::string text = console.str();
    if (!Open_product(Product_path(console_name), transcript) ||
        (std::fwrite(text.data(), 1, text.size(), transcript.stream), !Finish_product(transcript))) {
        if (record.code == exit_complete) {
            record.code = exit_product_not_written;
            stage_failure = "Can't write '" + Product_path(console_name) + "'";
        }
    }
    Use_console(std::cout);
    Use_advice(std::cerr);
    product_folder.clear();
    record.measured = record.code == exit_complete;
    if (!record.measured) record.message = stage_failure;
    record.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return record;
}
