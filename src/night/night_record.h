// The record of a night: what each frame's measurement gave, and the facts of every
// input file (size, modification time, SHA-256), as night.json holds them.
//
// A frame's record travels from the worker that measured it to the night's driver as
// its JSON followed by its rows in the program's own binary form (Worker_result,
// Record_from_worker_result), and is written to night.json without its rows. New
// per-frame values go into FrameRecord and its conversions.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/failure.h"
#include "measure/beam_table.h"
#include "measure/uncertainty.h"
#include "measure/scattering.h"
#include "model/levels.h"
#include "night/night_times.h"

// Size, modification time (UTC, ISO 8601) and SHA-256 (lower-case hex) of a file.
struct FileFacts {
    uint64_t size = 0;
    std::string modified;
    std::string sha256;
    uint64_t hashed = 0;   // the bytes the checksum covers: all, or a picture's header and samples
};

// A text as night.json holds it: as it is when it is valid UTF-8; otherwise every
// byte that is not part of a valid UTF-8 character becomes \xNN (two lower-case hex
// digits) and every backslash is doubled, so that the bytes can be had back.
std::string Json_text(const std::string& text);

// Reads the facts of file `name`: a 16-bit PGM is hashed only as far as its header
// says it reaches, any other file only up to the most a picture can hold. The bytes
// are hashed from `held` (the file's first `held_size` bytes, as a reader mapped them)
// when they reach that far, else read. Fails (code 2) when they can't be had.
Failure Read_file_facts(const std::string& name, FileFacts& facts, const unsigned char* held = nullptr,
                        size_t held_size = 0);
// The same in two steps: the file's size, time and the bytes its checksum will cover
// (failing when it is no regular file that can be opened), then the checksum.
Failure Read_file_stamp(const std::string& name, FileFacts& facts);
Failure Hash_file(const std::string& name, FileFacts& facts, const unsigned char* held = nullptr,
                  size_t held_size = 0);
nlohmann::json Facts_to_json(const std::string& name, const FileFacts& facts);

struct FrameRecord {
    std::string name;     // the frame's file name less its extension: its product folder
    std::string file;     // the frame's file as given
    bool measured = false;
    int code = 0;         // the exit code `tavrolin` would give; 0 when measured
    std::string message;  // why the frame failed (empty when measured)
    bool has_facts = false;
    FileFacts facts;      // of the frame's file, when it could be read
    FrameTime dated;      // when it was taken, and the camera's metadata of a raw file

    bool has_levels = false;   // the level stage ran
    FrameLevels levels;

    bool has_signal = false;   // the beam signal was extracted
    int32_t row90 = -1;
    int32_t x90 = -1;
    float coefficient = 0.0f;
    std::vector<TableRow> rows;

    bool has_uncertainty = false;   // the rows' uncertainties were measured
    double gain = 0.0;              // DN per electron (NaN: the frame gave none)
    bool gain_estimated = true;     // false when imposed by --gain
    bool beam_found = true;         // false when most rows are weak
    std::vector<double> sigma_signal;   // per row of `rows`: sigma of the normalised signal
    std::vector<RowUncertainty> row_uncertainty;   // per row of `rows`: net signal, background, sigmas,
                                                   // flags, and the parts of var(net)
    bool has_scattering = false;   // the scattering function was formed and fitted
    AerosolFit fit;                // the aerosol phase function fitted to the frame's beta.rel
    double gain_sigma = 0.0;            // standard error of an estimated gain (NaN otherwise)
    double cell_read_variance = 0.0;    // `a`, DN^2
    double dark_cell_read_variance = 0.0;   // the dark's share of `a`, DN^2
    std::vector<NoiseBin> noise_bins;   // the points the gain was fitted to
    double clip_level = std::numeric_limits<double>::infinity();   // the sample level that flags `sat`
    bool clip_piled_up = false;   // the samples pile up at it (or it was imposed): the white level

    double seconds = 0.0;      // wall time of the frame's measurement (a timing)
};

// The aerosol fit as night.json holds it (without the per-row model).
nlohmann::json Fit_to_json(const AerosolFit& fit);

// The record as JSON, without its rows. Floats that are not finite are written as
// the strings "nan", "inf" and "-inf".
nlohmann::json Frame_to_json(const FrameRecord& record);

// The record back from Frame_to_json's JSON. Throws nlohmann::json::exception on JSON
// of another shape.
FrameRecord Frame_from_json(const nlohmann::json& json);

// Empties `json` from its leaves up, so that its destruction needs no memory: the
// library's destructor first gathers an array's or object's children into a list of
// its own, and where that list can't be had, as when memory has run out, the program
// is aborted. Used on the large records before they go.
void Dismantle(nlohmann::json& json);

// A worker's result: the record's JSON with the frame's time taken, a line end, and
// the rows (the table's lines, the row sigmas and the rows' uncertainties) as the
// program holds them in memory. Only the same program reads it back, in the night
// that forked the worker. The rows carry the precision night.json would give them:
// the sigmas rounded to float, the variance parts in full.
std::string Worker_result(const FrameRecord& record);
// The record back from a worker's result; false when the result is cut short or not
// of that shape.
bool Record_from_worker_result(const std::string& result, FrameRecord& record);
