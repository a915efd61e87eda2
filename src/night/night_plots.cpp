#include "night/night_plots.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utility>
#include <unistd.h>

#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/signals.h"
#include "input/input_file.h"
#include "night/night_cleanup.h"
#include "night/night_names.h"

namespace {

// A text as a gnuplot string in single quotes (no escapes inside, '' for ').
std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

// Starts gnuplot in `folder` on the script `script` (named from there), its output
// silenced; its process, or -1 when none could be started.
pid_t Start_gnuplot(const std::string& folder, const std::string& script)
{
    pid_t child;
    {
        EndingSignalsHeld held;
        child = fork();
        if (child > 0) Keep_child(child);
        if (child == 0) Set_ending_cleanup(nullptr);
    }
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        if (chdir(folder.c_str()) != 0) _exit(127);
        execlp("gnuplot", "gnuplot", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child < 0 ? -1 : child;
}

// Waits for a gnuplot Start_gnuplot started; true when it succeeded.
bool Wait_gnuplot(pid_t child)
{
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    Forget_child(child);
    return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The last part of a path.
std::string Base_name(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A product's failure with the system's reason.
Failure Not_drawn(const std::string& what, int error)
{
    return Failure{exit_product_not_written, "can't write " + what + ": " + std::strerror(error), error};
}

// A frame's name as a label: control bytes and bytes outside UTF-8 as \xNN.
std::string Label(const std::string& name)
{
    return Json_text(Shown_token(name, std::string::npos));
}

// Makes an empty temporary file "<name>.XXXXXX" beside `name` (created anew, so that
// nothing already there is written through); its name, or empty with `error`.
std::string Temporary_beside(const std::string& name, int& error)
{
    std::string temporary = name + ".XXXXXX";
    EndingSignalsHeld held;
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        error = errno;
        return std::string();
    }
    Give_usual_permissions(descriptor);
    close(descriptor);
    Keep_night_temporary(temporary);
    return temporary;
}

// Why a picture gnuplot left empty or cut short could not be written, as far as the
// system says: gnuplot ends without a word when its picture can't be written, so the
// night writes a picture's worth of bytes into the temporary file itself (a full disk
// refuses them) and gives the error number of that write, or 0 when it went through.
int Write_refusal(const std::string& temporary)
{
    // (gnuplot may have removed it: made anew then, and removed with the others.)
    const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) return errno;
    const std::vector<char> picture(size_t{1} << 16, 0);
    int error = 0;
    for (size_t written = 0; written < picture.size() && error == 0;) {
        const ssize_t wrote = write(descriptor, picture.data() + written, picture.size() - written);
        if (wrote <= 0) error = wrote < 0 ? errno : ENOSPC;
        written += wrote > 0 ? size_t(wrote) : 0;
    }
    if (error == 0 && fsync(descriptor) != 0) error = errno;
    close(descriptor);
    return error;
}

// True when `file` ends as every whole PNG does, with its IEND chunk: gnuplot leaves a
// picture cut short where the disk ran full, and still ends without a word.
bool Is_whole_png(const std::string& file)
{
    static const unsigned char end[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    unsigned char last[12];
    std::FILE* picture = std::fopen(file.c_str(), "rb");
    if (picture == nullptr) return false;
    const bool read = std::fseek(picture, -12, SEEK_END) == 0 && std::fread(last, 1, 12, picture) == 12;
    std::fclose(picture);
    return read && std::memcmp(last, end, 12) == 0;
}

// A picture gnuplot draws: its temporary file beside it, and the picture.
struct Drawing {
    std::string temporary;
    std::string png;
};

// Removes the drawings' temporary files (those renamed into place are gone already).
void Remove_drawings(const std::vector<Drawing>& drawings)
{
    EndingSignalsHeld held;
    for (const Drawing& drawing : drawings) std::remove(drawing.temporary.c_str());
    Forget_night_temporaries();
}

// The temporary files of the pictures `pngs`, or the failure (none is left then).
Failure Start_drawings(const std::vector<std::string>& pngs, std::vector<Drawing>& drawings)
{
    for (const std::string& png : pngs) {
        int error = 0;
        const std::string temporary = Temporary_beside(png, error);
        if (temporary.empty()) {
            Remove_drawings(drawings);
            drawings.clear();
            return Not_drawn(png, error);
        }
        drawings.push_back(Drawing{temporary, png});
    }
    return {};
}

// A gnuplot script of the night's: its file in the work folder, its text, and the
// pictures it draws.
struct PlotScript {
    std::string file;
    std::string text;
    std::vector<Drawing> drawings;
};

// Renames each drawing of `script` over its picture once gnuplot drew it (`drawn`);
// adds a failure for each that is missing.
void Finish_drawings(const PlotScript& script, bool drawn, std::vector<Failure>& failures)
{
    for (const Drawing& drawing : script.drawings) {
        if (!drawn || !Is_whole_png(drawing.temporary)) {
            const int error = Write_refusal(drawing.temporary);
            failures.push_back(error != 0 ? Not_drawn(drawing.png, error)
                                          : Failure{exit_product_not_written, "gnuplot could not draw " + drawing.png});
        } else if (std::rename(drawing.temporary.c_str(), drawing.png.c_str()) != 0) {
            failures.push_back(Not_drawn(drawing.png, errno));
        }
    }
}

}  // namespace

// The scripts being run in `folder`, each in a gnuplot of its own: with fewer jobs
// than scripts, neighbouring scripts are joined first, so that at most `jobs`
// gnuplots run (with one job, one gnuplot runs them all).
struct NightDrawings::Runs {
    std::string folder;
    std::string work_folder;
    unsigned jobs = 1;
    std::vector<PlotScript> scripts;
    std::vector<Drawing> all;                          // every drawing of the scripts
    std::vector<std::pair<pid_t, size_t>> running;     // gnuplot and its script
    std::vector<Failure> failures;

    // Joins the scripts as the jobs allow and starts a gnuplot on each.
    void Begin(std::vector<PlotScript> to_run)
    {
        for (const PlotScript& script : to_run) all.insert(all.end(), script.drawings.begin(), script.drawings.end());
        // Joined scripts share a gnuplot, which then starts (and finds its fonts) once
        // for them. Each script starts from gnuplot's defaults, as in a gnuplot of its own.
        const size_t groups = std::min<size_t>(std::max(jobs, 1u), to_run.size());
        for (size_t g = 0, first = 0; g < groups; ++g) {
            const size_t end = first + (to_run.size() - first + groups - g - 1) / (groups - g);
            PlotScript joined{to_run[first].file, std::string(), {}};
            for (size_t i = first; i < end; ++i) {
                if (end - first > 1) joined.text += "reset\n";
                joined.text += to_run[i].text;
                joined.drawings.insert(joined.drawings.end(), to_run[i].drawings.begin(), to_run[i].drawings.end());
            }
            scripts.push_back(std::move(joined));
            first = end;
        }
        for (size_t i = 0; i < scripts.size(); ++i) {
            const PlotScript& script = scripts[i];
            if (Failure failure = Write_product_file(script.file, script.text)) {
                failures.push_back(Not_drawn(script.file, failure.error));
                continue;
            }
            const pid_t child = Start_gnuplot(folder, Base_name(work_folder) + "/" + Base_name(script.file));
            if (child < 0) {
                Finish_drawings(script, false, failures);
                std::remove(script.file.c_str());
            } else {
                running.emplace_back(child, i);
            }
        }
    }
    // Renames each script's drawings over their pictures once its gnuplot has ended,
    // and removes the script.
    void Finish_all()
    {
        for (const auto& [child, index] : running) {
            Finish_drawings(scripts[index], Wait_gnuplot(child), failures);
            std::remove(scripts[index].file.c_str());
        }
        running.clear();
    }
};

namespace {

// The value at fraction q of the sorted values (0 for none).
double Quantile(std::vector<double> values, double q)
{
    if (values.empty()) return 0.0;
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(q * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(k), values.end());
    return values[k];
}

// Each frame's slot on the time axis: from half way to the frame before to half way
// to the frame after, but no more than half the night's median interval on either
// side, so that a pause in the night shows as a gap (a lone frame: a minute). Frames
// without a time get none.
std::vector<std::pair<double, double>> Time_slots(const std::vector<FrameRecord>& frames)
{
    std::vector<std::pair<double, double>> slots(frames.size(), {0.0, 0.0});
    std::vector<size_t> dated;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].dated.known) dated.push_back(i);
    }
    std::stable_sort(dated.begin(), dated.end(),
                     [&](size_t a, size_t b) { return frames[a].dated.time < frames[b].dated.time; });
    std::vector<double> intervals;
    for (size_t j = 1; j < dated.size(); ++j) {
        const double interval = frames[dated[j]].dated.time - frames[dated[j - 1]].dated.time;
        if (interval > 0.0) intervals.push_back(interval);
    }
    const double reach = intervals.empty() ? 30.0 : Quantile(intervals, 0.5) / 2.0;
    for (size_t j = 0; j < dated.size(); ++j) {
        const double t = frames[dated[j]].dated.time;
        // Frames of the same time share their slot.
        double before = j > 0 ? (t - frames[dated[j - 1]].dated.time) / 2.0 : reach;
        double after = j + 1 < dated.size() ? (frames[dated[j + 1]].dated.time - t) / 2.0 : reach;
        if (!(before > 0.0)) before = reach;
        if (!(after > 0.0)) after = reach;
        slots[dated[j]] = {t - std::min(before, reach), t + std::min(after, reach)};
    }
    return slots;
}

// Appends a record of doubles, as gnuplot's binary format '%Nfloat64' reads them.
void Append_record(std::string& data, std::initializer_list<double> values)
{
    for (const double value : values) data.append(reinterpret_cast<const char*>(&value), sizeof value);
}

constexpr int curtain_fields = 7;
constexpr int residual_fields = 2;

// The night profile's columns the pictures draw, as binary records of
// `profile_fields` doubles: scattering angle, mean, sem, sem.predicted, beta.rel,
// sigma.beta.rel, beta.mol.rel and beta.fit (numbered from 1 as gnuplot's `using`
// takes them). Missing values are NaN, which gnuplot leaves out.
constexpr int profile_fields = 8;
enum ProfileField { angle_field = 1, mean_field, sem_field, predicted_field, beta_field, sigma_beta_field,
                    molecular_field, fitted_field };

std::string Profile_data(const std::vector<ProfileRow>& profile, const std::vector<RowScattering>& scattering,
                         const std::vector<double>& fit_model)
{
    const double none = std::numeric_limits<double>::quiet_NaN();
    std::string data;
    for (size_t k = 0; k < profile.size(); ++k) {
        const ProfileRow& row = profile[k];
        const bool has = k < scattering.size();
        Append_record(data, {row.alpha, row.mean, row.sem, row.sem_predicted, has ? scattering[k].beta : none,
                             has ? scattering[k].sigma_beta : none, has ? scattering[k].beta_mol : none,
                             k < fit_model.size() ? fit_model[k] : none});
    }
    return data;
}

// A field of the profile's records as a gnuplot `using` expression takes it.
std::string Field(ProfileField field)
{
    return "$" + std::to_string(int(field));
}

// The curtain's data: per measured frame with a time and row, the frame's time, the
// row's height, the frame's slot, the row's height span and the frame's normalised
// signal over the night's mean, as binary records.
std::string Curtain_data(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                         const std::vector<std::pair<double, double>>& slots, double& spread)
{
    std::map<int32_t, double> mean;
    for (const ProfileRow& row : profile) mean[row.y] = row.mean;
    std::string data;
    std::vector<double> deviations;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::vector<TableRow>& rows = frames[i].rows;
        if (!frames[i].measured || !frames[i].dated.known) continue;
        for (size_t k = 0; k < rows.size(); ++k) {
            const auto m = mean.find(rows[k].y);
            const double before = k > 0 ? rows[k - 1].height : rows[k].height;
            const double after = k + 1 < rows.size() ? rows[k + 1].height : rows[k].height;
            const double half = std::fabs(after - before) / (k > 0 && k + 1 < rows.size() ? 4.0 : 2.0);
            if (m == mean.end() || !(m->second > 0.0) || !std::isfinite(rows[k].signal) ||
                !std::isfinite(rows[k].height)) {
                continue;
            }
            const double ratio = rows[k].signal / m->second;
            Append_record(data, {frames[i].dated.time, rows[k].height, slots[i].first, slots[i].second,
                                 rows[k].height - half, rows[k].height + half, ratio});
            deviations.push_back(std::fabs(ratio - 1.0));
        }
    }
    // The colours reach 1 +- the 98th percentile of the deviations: a few rows near
    // the path's ends would otherwise take the whole scale.
    spread = std::clamp(Quantile(deviations, 0.98), 0.005, 1.0);
    return data;
}

// Every measured frame's residual against the night's mean, relative: per row the
// scattering angle and signal / mean - 1, as binary records.
std::string Residual_data(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile)
{
    std::map<int32_t, double> mean;
    for (const ProfileRow& row : profile) mean[row.y] = row.mean;
    std::string data;
    for (const FrameRecord& frame : frames) {
        if (!frame.measured) continue;
        for (const TableRow& row : frame.rows) {
            const auto m = mean.find(row.y);
            if (m == mean.end() || !(m->second > 0.0) || !std::isfinite(row.signal)) continue;
            Append_record(data, {row.alpha, row.signal / m->second - 1.0});
        }
    }
    return data;
}

// The gnuplot lines of the curtain: time across, height up, the colour the frame's
// ratio to the night's mean profile; failed frames as grey, labelled gaps.
std::string Curtain_script(const std::string& drawing, const std::string& data_file, const std::vector<FrameRecord>& frames,
                           const std::vector<std::pair<double, double>>& slots, double spread, bool any_cell)
{
    std::ostringstream gp;
    gp.exceptions(std::ios::badbit);
    gp.precision(12);
    double first = 0.0, last = 0.0;
    bool any_time = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!frames[i].dated.known) continue;
        first = any_time ? std::min(first, slots[i].first) : slots[i].first;
        last = any_time ? std::max(last, slots[i].second) : slots[i].second;
        any_time = true;
    }
    gp << "set terminal pngcairo noenhanced size 1100,700 font 'sans,10'\n"
       << "set output " << Quoted(drawing) << "\n"
       << "set title 'Each frame against the night: normalised signal / night mean, per height'\n"
       << "set xdata time\nset timefmt '%s'\nset format x '%H:%M'\n"
       << "set xlabel 'time (UTC)"
       << (any_time ? ", from " + Iso_time(first).substr(0, 10) : std::string(", no frame has a time")) << "'\n"
       << "set ylabel 'height of the scattering point (m)'\n"
       << "set cblabel 'signal / night mean (1)'\n"
       << "set cbrange [" << 1.0 - spread << ":" << 1.0 + spread << "]\n"
       << "set palette defined (0 '#2166ac', 0.25 '#92c5de', 0.5 '#f7f7f7', 0.75 '#f4a582', 1 '#b2182b')\n"
       << "set style fill solid noborder\nunset key\n";
    if (any_time) gp << "set xrange ['" << first << "':'" << last << "']\n";
    int label = 1;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (!any_cell || frames[i].measured || !frames[i].dated.known) continue;
        gp << "set object " << label << " rect from '" << slots[i].first << "', graph 0 to '" << slots[i].second
           << "', graph 1 behind fc rgb '#bbbbbb' fs solid 1.0 noborder\n"
           << "set label " << label << " " << Quoted(Label(frames[i].name) + " failed") << " at '" << frames[i].dated.time
           << "', graph 0.5 center rotate by 90 front font 'sans,8'\n";
        ++label;
    }
    if (any_cell) {
        gp << "plot " << Quoted(data_file) << " binary format='%" << curtain_fields
           << "float64' using 1:2:3:4:5:6:7 with boxxyerror fc palette\n";
    } else {
        gp << "set label " << label << " 'no frame was measured' at graph 0.5, 0.5 center\n"
           << "unset xdata\nset format x\nset xlabel 'time (UTC)'\nplot [0:1] [0:1] -1 notitle\n";
    }
    gp << "unset output\nunset object\nunset label\nunset xdata\nunset xrange\nset format x\n";
    return gp.str();
}

}  // namespace

bool Gnuplot_available()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty()) folder = ".";
        if (access((folder + "/gnuplot").c_str(), X_OK) == 0) return true;
    }
    return false;
}

namespace {

// The scripts of the curtain and the profile, with their data written into the work
// folder, or the failure (nothing of theirs is left then).
Failure Night_plot_scripts(const std::string& folder, const std::string& work_folder,
                           const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                           const std::string& profile_data, std::vector<PlotScript>& scripts)
{
    // gnuplot runs in the night's folder and reads and writes only files of the
    // night's own naming there: the folder's name may hold any byte.
    const std::string work = Base_name(work_folder);
    const std::string curtain_data = work_folder + "/night_curtain.dat";
    const std::string residual_data = work_folder + "/night_residuals.dat";
    const std::string map_png = folder + "/" + night_map_name;
    const std::string profile_png = folder + "/" + night_profile_plot_name;
    const auto remove_work = [&]() {
        for (const std::string& file : {curtain_data, residual_data}) std::remove(file.c_str());
    };
    const std::vector<std::pair<double, double>> slots = Time_slots(frames);
    double spread = 0.1;
    const std::string curtain = Curtain_data(frames, profile, slots, spread);
    for (const auto& [file, data] : {std::pair{curtain_data, curtain},
                                     std::pair{residual_data, Residual_data(frames, profile)}}) {
        if (Failure failure = Write_product_file(file, data)) {
            remove_work();
            return Not_drawn(file, failure.error);
        }
    }
    std::vector<Drawing> drawings;
    if (Failure failure = Start_drawings({map_png, profile_png}, drawings)) {
        remove_work();
        return failure;
    }
    const std::string map_drawing = drawings[0].temporary, profile_drawing = drawings[1].temporary;
    scripts.push_back(PlotScript{work_folder + "/night_map.gp",
                                 Curtain_script(Base_name(map_drawing), work + "/" + Base_name(curtain_data), frames,
                                                slots, spread, !curtain.empty()),
                                 {drawings[0]}});
    std::ostringstream gp;
    gp.exceptions(std::ios::badbit);

    // The profile: the mean with its standard error (band) and the predicted one
    // (dashed), on a log axis when the mean spans more than a decade; below, every
    // frame's relative residual against the mean with the same errors relative.
    const std::string angle = std::to_string(int(angle_field)), mean = Field(mean_field);
    const std::string sem = Field(sem_field), predicted = Field(predicted_field);
    double low = 0.0, high = 0.0;
    size_t frames_used = 0;
    bool several = false;
    for (const ProfileRow& row : profile) {
        if (row.mean > 0.0 && std::isfinite(row.mean)) {
            low = low > 0.0 ? std::min(low, row.mean) : row.mean;
            high = std::max(high, row.mean);
        }
        several = several || row.frames > 1;
        frames_used = std::max(frames_used, size_t(row.frames));
    }
    const bool logarithmic = low > 0.0 && high > 10.0 * low;
    const std::string file = Quoted(work + "/" + Base_name(profile_data)) + " binary format='%" +
                             std::to_string(profile_fields) + "float64'";
    gp << "set output " << Quoted(Base_name(profile_drawing)) << "\n"
       << "set terminal pngcairo noenhanced size 1000,800 font 'sans,10'\n"
       << "unset title\nset grid\nset key top right box opaque\n"
       << "set multiplot layout 2,1 title 'Mean profile of the night, " << frames_used << " frame(s)'\n"
       << "set xlabel 'scattering angle (deg)'\nset ylabel 'normalised signal (1)'\n"
       << (logarithmic ? "set logscale y\n" : "unset logscale y\n");
    if (profile.empty()) {
        gp << "set label 1 'no frame was measured' at graph 0.5, 0.5 center\nplot [0:1] [0:1] -1 notitle\n"
           << "plot [0:1] [0:1] -1 notitle\n";
    } else {
        const std::string band = " with filledcurves fs transparent solid 0.4 noborder lc rgb '#7f9fd0'";
        const std::string dashed = " with lines dt 2 lw 1.2 lc rgb '#c0392b'";
        gp << "plot ";
        if (several) {
            gp << file << " using " << angle << ":(" << mean << "-" << sem << "):(" << mean << "+" << sem << ")"
               << band << " title '+- standard error (spread of the frames)', " << file << " using " << angle << ":("
               << mean << "-" << predicted << ")" << dashed << " title '+- standard error predicted from the sigmas "
               << "of the frames', " << file << " using " << angle << ":(" << mean << "+" << predicted << ")" << dashed
               << " notitle, ";
        }
        gp << file << " using " << angle << ":(" << mean << ") with lines lw 1.5 lc rgb '#1f4e99' title 'mean'\n"
           << "unset logscale y\nset ylabel 'frame / mean - 1'\nset key top right box opaque\n"
           << "plot " << Quoted(work + "/" + Base_name(residual_data)) << " binary format='%" << residual_fields
           << "float64' using 1:2 with dots lc rgb '#777777' title 'each frame'";
        if (several) {
            gp << ", " << file << " using " << angle << ":(-" << sem << "/" << mean << "):(" << sem << "/" << mean
               << ")" << band << " title '+- standard error, relative', " << file << " using " << angle << ":(-"
               << predicted << "/" << mean << ")" << dashed << " title '+- predicted, relative', " << file
               << " using " << angle << ":(" << predicted << "/" << mean << ")" << dashed << " notitle";
        }
        gp << "\n";
    }
    gp << "unset multiplot\nunset output\n";
    scripts.push_back(PlotScript{work_folder + "/night_profile.gp", gp.str(), {drawings[1]}});
    return {};
}

// The script of the scattering function's picture, or the failure.
Failure Scattering_plot_script(const std::string& folder, const std::string& work_folder,
                               const std::string& profile_data, const std::string& fit_text, bool has_beta,
                               bool has_fit, std::vector<PlotScript>& scripts)
{
    std::vector<Drawing> drawings;
    if (Failure failure = Start_drawings({folder + "/" + night_scattering_plot_name}, drawings)) return failure;
    const std::string file = Quoted(Base_name(work_folder) + "/" + Base_name(profile_data)) + " binary format='%" +
                             std::to_string(profile_fields) + "float64' using " + std::to_string(int(angle_field)) +
                             ":";
    const std::string beta = Field(beta_field), sigma = Field(sigma_beta_field);
    const std::string molecular = Field(molecular_field), fitted = Field(fitted_field);
    // A panel without data says so (gnuplot refuses an empty plot).
    const std::string none = "set label 1 '%s' at graph 0.5, 0.5 center\nplot [0:180] [0:1] -1 notitle\nunset label 1\n";
    auto empty = [&](const std::string& what) {
        char text[200];
        std::snprintf(text, sizeof text, none.c_str(), what.c_str());
        return std::string(text);
    };
    std::ostringstream gp;
    gp.exceptions(std::ios::badbit);
    gp << "set terminal pngcairo noenhanced size 1100,1000 font 'sans,10'\n"
       << "set output " << Quoted(Base_name(drawings[0].temporary)) << "\n"
       << "set grid\nset key top left\n"
       << "set multiplot layout 3,1 title " << Quoted("Scattering function of the night: " + fit_text) << "\n"
       << "set xlabel 'scattering angle (deg)'\n"
       << "set ylabel 'relative scattering function (arb.u.)'\n";
    if (has_beta) {
        gp << "set logscale y\nplot " << file << "(" << beta << ") with lines lw 1.5 lc rgb '#1f4e99' "
           << "title 'beta.rel', " << file << "(" << molecular << ") with lines dt 2 lw 1.5 lc rgb '#c0392b' "
           << "title 'beta.mol.rel (molecular reference)'\nunset logscale y\n";
    } else {
        gp << empty("no scattering function");
    }
    gp << "set ylabel 'beta.rel / beta.mol.rel'\n";
    if (has_beta) {
        gp << "plot " << file << "(" << beta << "/" << molecular << ") with points pt 7 ps 0.3 lc rgb '#1f4e99' "
           << "title 'ratio'";
        if (has_fit) gp << ", " << file << "(" << fitted << "/" << molecular << ") with lines lw 1 lc rgb '#c0392b' title 'fitted'";
        gp << "\n";
    } else {
        gp << empty("no scattering function");
    }
    gp << "set ylabel '(beta.rel - fit) / sigma'\n";
    if (has_fit) {
        gp << "plot " << file << "((" << beta << "-" << fitted << ")/" << sigma
           << ") with points pt 7 ps 0.3 lc rgb '#1f4e99' title 'residuals of the fit', 0 lc rgb 'black' notitle\n";
    } else {
        gp << empty("no aerosol fit");
    }
    gp << "unset multiplot\nunset output\n";
    scripts.push_back(PlotScript{work_folder + "/night_scattering.gp", gp.str(), drawings});
    return {};
}

}  // namespace

NightDrawings::NightDrawings() = default;
NightDrawings::~NightDrawings()
{
    Abandon();
}

void NightDrawings::Abandon() noexcept
{
    if (!runs_) return;
    // Nothing here allocates: this may run while an exception (memory run out) unwinds.
    for (const auto& [child, index] : runs_->running) {
        kill(child, SIGTERM);
        Wait_gnuplot(child);
    }
    runs_->running.clear();
    EndingSignalsHeld held;
    for (const PlotScript& script : runs_->scripts) std::remove(script.file.c_str());
    for (const Drawing& drawing : runs_->all) std::remove(drawing.temporary.c_str());
    // Unwinding, the temporaries of drawings not yet handed over are left to the
    // night's ending, which removes every one it was told of.
    if (std::uncaught_exceptions() == 0) Forget_night_temporaries();
    runs_.reset();
}

void NightDrawings::Start(const std::string& folder, const std::string& work_folder,
                          const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                          const std::vector<RowScattering>& scattering, const std::vector<double>& fit_model,
                          const std::string& fit_text, bool has_beta, bool has_fit, unsigned jobs)
{
    runs_ = std::make_unique<Runs>();
    runs_->folder = folder;
    runs_->work_folder = work_folder;
    runs_->jobs = jobs;
    std::vector<Failure>& failures = runs_->failures;
    const std::string profile_data = work_folder + "/night_profile.dat";
    if (Failure failure = Write_product_file(profile_data, Profile_data(profile, scattering, fit_model))) {
        failures.push_back(Not_drawn(profile_data, failure.error));
        return;
    }
    std::vector<PlotScript> scripts;
    if (Failure failure = Night_plot_scripts(folder, work_folder, frames, profile, profile_data, scripts)) {
        failures.push_back(failure);
    }
    if (Failure failure = Scattering_plot_script(folder, work_folder, profile_data, fit_text, has_beta, has_fit, scripts)) {
        failures.push_back(failure);
    }
    runs_->Begin(std::move(scripts));
}

std::vector<Failure> NightDrawings::Finish()
{
    if (!runs_) return {};
    const std::unique_ptr<Runs> runs = std::move(runs_);
    runs->Finish_all();
    Remove_drawings(runs->all);
    for (const char* data : {"/night_curtain.dat", "/night_residuals.dat", "/night_profile.dat"}) {
        std::remove((runs->work_folder + data).c_str());
    }
    return runs->failures;
}
