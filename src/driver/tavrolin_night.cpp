// tavrolin-night: a night of exposures in one command. Every frame is measured as
// `tavrolin` measures it, with the same stages, into a folder of its own; the frames
// are then combined into the night's profile, its pictures and its record.
//
// The night, one step after the other:
//  1. the command line (code 64 for a mistake);
//  2. the configuration and the path, by the same stages as `tavrolin` (codes 4, 5);
//     their console lines open every frame's transcript;
//  3. the dark: none, the one given, or the master dark of several (code 2 when a
//     dark can't be used);
//  4. the frames, in worker processes (the run state is one per process), each
//     giving back its record as JSON in a result file; one line per frame on
//     standard output, in command-line order, and a progress line on a terminal;
//  5. night_profile.tsv, the two pictures and night.json;
//  6. code 0 when every frame was measured, 7 when some were, 2 when none was.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "driver/console.h"
#include "driver/night_frame.h"
#include "driver/run_codes.h"
#include "driver/settings.h"
#include "driver/signals.h"
#include "input/laserpath.h"
#include "products/master_dark.h"
#include "products/night_plots.h"
#include "products/night_profile.h"
#include "products/night_record.h"
#include "products/output_file.h"
#include "tavrolin_version.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

struct NightOptions {
    std::string config = config_file_name;
    std::string path = path_file_name;
    std::vector<std::string> darks;
    std::string out = ".";
    unsigned jobs = 0;
    bool no_pictures = false;
    double gain = std::numeric_limits<double>::quiet_NaN();
    double saturation = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::string> frames;
};

const char* const usage_line =
    "Usage: tavrolin-night [--config FILE] [--path FILE] [--dark DARK]... [--out DIR] "
    "[--jobs N] [--no-pictures] [--gain G] [--saturation L] FRAME...";

int Usage_error(const std::string& message)
{
    std::cerr << "tavrolin-night: " << message << "\n" << usage_line << "\n"
              << "Run with --help for more information." << std::endl;
    return exit_usage;
}

// Makes `folder` and its parents; false when it can't be made.
bool Make_folder(const std::string& folder)
{
    std::string partial;
    std::istringstream parts(folder);
    std::string part;
    if (!folder.empty() && folder[0] == '/') partial = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += part + "/";
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat status;
    return stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string Read_text(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The progress line on standard error, when it is a terminal.
class Progress {
public:
    explicit Progress(size_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
    void Show(size_t done)
    {
        if (!shown_) return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        std::fprintf(stderr, "\r\033[K%zu of %zu frames done, %.0f s elapsed", done, total_, elapsed);
        if (done > 0 && done < total_) {
            std::fprintf(stderr, ", about %.0f s left", elapsed / double(done) * double(total_ - done));
        }
        std::fflush(stderr);
    }
    void Clear()
    {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }
    void End()
    {
        if (shown_) std::fprintf(stderr, "\n");
    }

private:
    size_t total_;
    bool shown_;
    Clock::time_point start_ = Clock::now();
};

std::string Frame_line(const FrameRecord& record)
{
    std::ostringstream line;
    if (record.measured) {
        line << record.name << ": measured, scaling coefficient " << record.coefficient
             << " at row " << record.row90;
        if (record.has_uncertainty && !record.beam_found) {
            line << "\n" << record.name << ": no beam found along the path";
        }
    } else {
        line << record.name << ": failed (code " << record.code << "): "
             << (record.message.empty() ? "no reason given" : record.message) << ", skipped";
    }
    return line.str();
}

// A worker: measures frame `index` and leaves its record in `result`; never returns.
[[noreturn]] void Work(const NightFrame& frame, const std::string& preamble, const std::string& result)
{
    const FrameRecord record = Measure_frame(frame, preamble);
    ProductFile file;
    bool written = Open_product(result, file);
    if (written) {
        const std::string text = Frame_to_json(record, true).dump();
        std::fwrite(text.data(), 1, text.size(), file.stream);
        written = Finish_product(file);
    }
    _exit(written ? 0 : 1);
}

// Measures every frame in up to `jobs` worker processes at a time; the records come
// back in command-line order.
std::vector<FrameRecord> Measure_frames(const std::vector<NightFrame>& frames, unsigned jobs,
                                        const std::string& preamble, const std::string& results)
{
    std::vector<FrameRecord> records(frames.size());
    std::vector<bool> done(frames.size(), false);
    std::map<pid_t, size_t> running;
    size_t next = 0, finished = 0, printed = 0;
    Progress progress(frames.size());
    progress.Show(0);
    auto result_file = [&](size_t i) { return results + "/" + std::to_string(i) + ".json"; };
    while (finished < frames.size()) {
        while (running.size() < jobs && next < frames.size()) {
            std::cout.flush();
            std::fflush(nullptr);
            const pid_t child = fork();
            if (child == 0) Work(frames[next], preamble, result_file(next));
            if (child < 0) {
                records[next].name = frames[next].name;
                records[next].file = frames[next].file;
                records[next].code = exit_bad_picture;
                records[next].message = "Can't start a worker process";
                done[next] = true;
                ++finished;
            } else {
                running[child] = next;
            }
            ++next;
        }
        if (running.empty()) continue;
        int status = 0;
        const pid_t child = waitpid(-1, &status, 0);
        if (child < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto worker = running.find(child);
        if (worker == running.end()) continue;
        const size_t i = worker->second;
        running.erase(worker);
        FrameRecord& record = records[i];
        try {
            record = Frame_from_json(json::parse(Read_text(result_file(i))));
        } catch (const json::exception&) {
            record = FrameRecord();
            record.code = exit_bad_picture;
            record.message = WIFSIGNALED(status)
                                 ? "the worker measuring it ended by signal " +
                                       std::to_string(WTERMSIG(status))
                                 : "the worker measuring it gave no result";
        }
        record.name = frames[i].name;
        record.file = frames[i].file;
        std::remove(result_file(i).c_str());
        done[i] = true;
        ++finished;
        progress.Clear();
        for (; printed < frames.size() && done[printed]; ++printed) {
            std::cout << Frame_line(records[printed]) << std::endl;
        }
        progress.Show(finished);
    }
    progress.Clear();
    for (; printed < frames.size(); ++printed) std::cout << Frame_line(records[printed]) << std::endl;
    progress.End();
    return records;
}

json Settings_json()
{
    return json{{"laserdistance", laserdistance}, {"elevation", elevation},
                {"pathwidth", pathwidth},         {"sidescale", sidescale},
                {"median", median},               {"correction", correction},
                {"center_size", center_size},     {"xcentre", xcentre},
                {"ycentre", ycentre},             {"rmax", rmax}};
}

std::string Utc_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc;
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return stamp;
}

int Parse_command_line(int argc, char** argv, NightOptions& options)
{
    CLI::App app{"tavrolin-night: measures a night of laser-beam frames as tavrolin does, each "
                 "into DIR/<frame name>/, and combines them into night_profile.tsv, "
                 "night_map.png, night_profile.png and night.json.",
                 "tavrolin-night"};
    app.set_version_flag("--version", std::string("tavrolin-night ") + tavrolin_version);
    app.add_option("--config", options.config, "configuration file, read as tavrolin reads it; "
                                                "its two file names are replaced by the frames and the darks")
        ->capture_default_str();
    app.add_option("--path", options.path, "beam path file")->capture_default_str();
    app.add_option("--dark", options.darks,
                   "dark picture; several are combined into DIR/master_dark.pgm (per-pixel median); "
                   "none or NODARK: no dark picture")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--out", options.out, "folder of the night's products")->capture_default_str();
    app.add_option("--jobs", options.jobs, "worker processes (default: the number of cores)")
        ->check(CLI::Range(1u, 4096u));
    app.add_flag("--no-pictures", options.no_pictures, "write no linearlyscaledG.PGM per frame");
    app.add_option("--gain", options.gain,
                   "sensor gain in DN per electron for the shot noise of every frame "
                   "(default: each frame's own photon-transfer estimate)")
        ->check(CLI::PositiveNumber);
    app.add_option("--saturation", options.saturation,
                   "sample level at which a pixel is clipped (default: each frame's highest "
                   "level when several pixels share it)")
        ->check(CLI::PositiveNumber);
    app.add_option("FRAME", options.frames, "laser pictures (16-bit PGM), in the night's order")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e) == 0 ? -1 : exit_usage;
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e) == 0 ? -1 : exit_usage;
    } catch (const CLI::ParseError& e) {
        return Usage_error(e.what());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Install_signal_handlers();
    const auto started = Clock::now();
    const std::string started_utc = Utc_now();
    NightOptions options;
    if (int code = Parse_command_line(argc, argv, options)) return code < 0 ? 0 : code;
    if (options.jobs == 0) {
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        options.jobs = cores > 0 ? static_cast<unsigned>(cores) : 1u;
    }

    // Frame names become folders: they must differ and be usable as folder names.
    std::vector<NightFrame> frames;
    std::set<std::string> names;
    for (const std::string& file : options.frames) {
        NightFrame frame;
        frame.file = file;
        frame.name = Frame_name(file);
        if (frame.name.empty() || frame.name == "." || frame.name == "..") {
            return Usage_error("frame '" + file + "' has no file name to name its folder by");
        }
        for (const char* product : {"night_profile.tsv", "night_map.png", "night_profile.png",
                                    "night.json", "master_dark.pgm"}) {
            if (frame.name == product) {
                return Usage_error("frame '" + file + "' would put its folder where the night's " +
                                   product + " goes");
            }
        }
        if (!names.insert(frame.name).second) {
            return Usage_error("two frames are named '" + frame.name + "' (" + file +
                               "): each frame's products go into a folder of its name");
        }
        if (file.size() >= size_t(filename_capacity)) {
            return Usage_error("frame '" + file.substr(0, 40) + "...' has a name longer than " +
                               std::to_string(filename_capacity - 1) + " characters");
        }
        frame.folder = options.out + "/" + frame.name;
        frame.pictures = !options.no_pictures;
        frame.gain = options.gain;
        frame.saturation = options.saturation;
        frames.push_back(frame);
    }
    std::vector<std::string> darks;
    for (const std::string& dark : options.darks) {
        if (dark != no_dark_name) darks.push_back(dark);
    }
    if (!darks.empty() && darks.size() != options.darks.size()) {
        return Usage_error("--dark NODARK can't be given together with dark pictures");
    }

    // The configuration and the path, as tavrolin reads them; their lines open every
    // frame's console.
    std::ostringstream preamble;
    Use_console(preamble);
    Print_banner();
    if (int code = Read_configuration(options.config)) {
        std::cerr << "tavrolin-night: " << options.config << ": " << stage_failure << std::endl;
        return code;
    }
    if (int code = Read_laser_path(options.path)) {
        std::cerr << "tavrolin-night: " << options.path << ": " << stage_failure << std::endl;
        return code;
    }
    Use_console(std::cout);

    if (!Make_folder(options.out)) {
        std::cerr << "tavrolin-night: can't make the folder '" << options.out << "'" << std::endl;
        return exit_product_not_written;
    }
    json inputs = json::object();
    FileFacts facts;
    for (const auto& [role, file] : {std::pair<const char*, std::string>{"configuration", options.config},
                                     {"path", options.path}}) {
        if (Read_file_facts(file, facts).empty()) inputs[role] = Facts_to_json(file, facts);
    }
    inputs["darks"] = json::array();
    for (const std::string& dark : darks) {
        std::string failure = Read_file_facts(dark, facts);
        if (!failure.empty()) {
            std::cerr << "tavrolin-night: " << failure << ", no frame can be measured" << std::endl;
            return exit_bad_picture;
        }
        inputs["darks"].push_back(Facts_to_json(dark, facts));
    }

    // The dark every frame is measured with.
    std::string dark = no_dark_name;
    json master = nullptr;
    if (darks.size() == 1) dark = darks.front();
    if (darks.size() > 1) {
        dark = options.out + "/master_dark.pgm";
        std::string failure = Write_master_dark(darks, dark);
        if (!failure.empty()) {
            std::cerr << "tavrolin-night: " << failure << ", no frame can be measured" << std::endl;
            return exit_bad_picture;
        }
        // The night's own product: its size and checksum, not its time of writing.
        if (Read_file_facts(dark, facts).empty()) {
            master = {{"file", dark}, {"size", facts.size}, {"sha256", facts.sha256}};
        }
    }
    if (dark.size() >= size_t(filename_capacity)) {
        return Usage_error("the dark's name is longer than " + std::to_string(filename_capacity - 1) +
                           " characters");
    }
    for (NightFrame& frame : frames) {
        frame.dark = dark;
        if (!Make_folder(frame.folder)) {
            std::cerr << "tavrolin-night: can't make the folder '" << frame.folder << "'" << std::endl;
            return exit_product_not_written;
        }
    }

    std::string results = options.out + "/.tavrolin-night.XXXXXX";
    if (mkdtemp(results.data()) == nullptr) {
        std::cerr << "tavrolin-night: can't make a folder for the workers' results in '"
                  << options.out << "'" << std::endl;
        return exit_product_not_written;
    }
    std::vector<FrameRecord> records = Measure_frames(frames, options.jobs, preamble.str(), results);
    rmdir(results.c_str());

    // The night's products.
    bool written = true;
    const std::vector<ProfileRow> profile = Combine_profile(records);
    const std::string profile_file = options.out + "/night_profile.tsv";
    if (!Write_night_profile(profile_file, profile)) {
        std::cerr << "tavrolin-night: can't write '" << profile_file << "'" << std::endl;
        written = false;
    }
    if (!Gnuplot_available()) {
        std::cerr << "tavrolin-night: gnuplot is not installed: night_map.png and "
                     "night_profile.png are not drawn"
                  << std::endl;
    } else if (written) {
        std::string failure = Draw_night_plots(options.out, records, profile, profile_file);
        if (!failure.empty()) std::cerr << "tavrolin-night: " << failure << std::endl;
    }

    size_t measured = 0;
    for (const FrameRecord& record : records) measured += record.measured ? 1 : 0;
    const int code = measured == records.size() ? exit_complete
                     : measured > 0             ? exit_some_frames_failed
                                                : exit_bad_picture;

    json night;
    night["tool"] = {{"name", "tavrolin-night"}, {"version", tavrolin_version}};
    json timings = json::object();
    json frames_json = json::array();
    json frame_inputs = json::array();
    for (const FrameRecord& record : records) {
        frames_json.push_back(Frame_to_json(record, false));
        timings[record.name] = record.seconds;
        if (record.has_facts) frame_inputs.push_back(Facts_to_json(record.file, record.facts));
    }
    inputs["frames"] = frame_inputs;
    night["settings"] = Settings_json();
    night["dark"] = dark;
    night["master_dark"] = master;
    night["inputs"] = inputs;
    night["frames"] = frames_json;
    night["summary"] = {{"frames", records.size()},
                        {"measured", measured},
                        {"failed", records.size() - measured},
                        {"exit_code", code}};
    // What differs from one run of the same night to the next: how it was started
    // and how long it took.
    night["run"] = {{"command_line", std::vector<std::string>(argv, argv + argc)},
                    {"jobs", options.jobs},
                    {"started", started_utc},
                    {"seconds", std::chrono::duration<double>(Clock::now() - started).count()},
                    {"frame_seconds", timings}};
    const std::string record_file = options.out + "/night.json";
    ProductFile record;
    bool record_written = Open_product(record_file, record);
    if (record_written) {
        const std::string text = night.dump(2) + "\n";
        std::fwrite(text.data(), 1, text.size(), record.stream);
        record_written = Finish_product(record);
    }
    if (!record_written) {
        std::cerr << "tavrolin-night: can't write '" << record_file << "'" << std::endl;
        written = false;
    }
    if (!written && code != exit_bad_picture) return exit_product_not_written;
    return code;
}
