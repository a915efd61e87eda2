#include "night/night_plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "base/product_file.h"
#include "base/run_codes.h"
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

// The number of the profile's column `name`, as gnuplot's `using` takes it.
std::string Column(const std::string& name)
{
    return std::to_string(Night_profile_column(name));
}

// Runs gnuplot on the script `script`, its output silenced; true when it succeeded.
bool Run_gnuplot(const std::string& script)
{
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        execlp("gnuplot", "gnuplot", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

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

// The curtain's data: per measured frame with a time and row, the frame's slot, the
// row's height span and the frame's normalised signal over the night's mean.
std::string Curtain_data(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile,
                         const std::vector<std::pair<double, double>>& slots, double& spread)
{
    std::map<int32_t, double> mean;
    for (const ProfileRow& row : profile) mean[row.y] = row.mean;
    std::ostringstream data;
    data.precision(12);
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
            data << frames[i].dated.time << ' ' << rows[k].height << ' ' << slots[i].first << ' ' << slots[i].second
                 << ' ' << rows[k].height - half << ' ' << rows[k].height + half << ' ' << ratio << '\n';
            deviations.push_back(std::fabs(ratio - 1.0));
        }
    }
    // The colours reach 1 +- the 98th percentile of the deviations: a few rows near
    // the path's ends would otherwise take the whole scale.
    spread = std::clamp(Quantile(deviations, 0.98), 0.005, 1.0);
    return data.str();
}

// Every measured frame's residual against the night's mean, relative: per row the
// scattering angle and signal / mean - 1.
std::string Residual_data(const std::vector<FrameRecord>& frames, const std::vector<ProfileRow>& profile)
{
    std::map<int32_t, double> mean;
    for (const ProfileRow& row : profile) mean[row.y] = row.mean;
    std::ostringstream data;
    data.precision(9);
    for (const FrameRecord& frame : frames) {
        if (!frame.measured) continue;
        for (const TableRow& row : frame.rows) {
            const auto m = mean.find(row.y);
            if (m == mean.end() || !(m->second > 0.0) || !std::isfinite(row.signal)) continue;
            data << row.alpha << '\t' << row.signal / m->second - 1.0 << '\n';
        }
        data << '\n';
    }
    return data.str();
}

// The gnuplot lines of the curtain: time across, height up, the colour the frame's
// ratio to the night's mean profile; failed frames as grey, labelled gaps.
std::string Curtain_script(const std::string& png, const std::string& data_file, const std::vector<FrameRecord>& frames,
                           const std::vector<std::pair<double, double>>& slots, double spread, bool any_cell)
{
    std::ostringstream gp;
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
       << "set output " << Quoted(png + ".tmp") << "\n"
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
           << "set label " << label << " " << Quoted(frames[i].name + " failed") << " at '" << frames[i].dated.time
           << "', graph 0.5 center rotate by 90 front font 'sans,8'\n";
        ++label;
    }
    if (any_cell) {
        gp << "plot " << Quoted(data_file) << " using 1:2:3:4:5:6:7 with boxxyerror fc palette\n";
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

Failure Draw_night_plots(const std::string& folder, const std::vector<FrameRecord>& frames,
                         const std::vector<ProfileRow>& profile, const std::string& profile_file)
{
    const auto failed = [](const std::string& reason) { return Failure{exit_product_not_written, reason}; };
    const std::string curtain_data = folder + "/.night_curtain.dat";
    const std::string residual_data = folder + "/.night_residuals.dat";
    const std::string script = folder + "/.night_plots.gp";
    const std::string map_png = folder + "/" + night_map_name;
    const std::string profile_png = folder + "/" + night_profile_plot_name;
    const auto remove_work = [&]() {
        for (const std::string& work : {curtain_data, residual_data, script}) std::remove(work.c_str());
    };
    const std::vector<std::pair<double, double>> slots = Time_slots(frames);
    double spread = 0.1;
    const std::string curtain = Curtain_data(frames, profile, slots, spread);
    if (Write_product_file(curtain_data, curtain) || Write_product_file(residual_data, Residual_data(frames, profile))) {
        remove_work();
        return failed("can't write the plots' data in " + folder);
    }
    std::ostringstream gp;
    gp << Curtain_script(map_png, curtain_data, frames, slots, spread, !curtain.empty());

    // The profile: the mean with its standard error (band) and the predicted one
    // (dashed), on a log axis when the mean spans more than a decade; below, every
    // frame's relative residual against the mean with the same errors relative.
    const std::string angle = Column("s.angle(deg)"), mean = "$" + Column("mean(arb.u.)");
    const std::string sem = "$" + Column("sem(arb.u.)"), predicted = "$" + Column("sem.predicted(arb.u.)");
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
    // The profile begins with its normalisation line and its header line.
    const std::string file = Quoted(profile_file) + " skip 2";
    gp << "set output " << Quoted(profile_png + ".tmp") << "\n"
       << "set terminal pngcairo noenhanced size 1000,800 font 'sans,10'\n"
       << "set datafile separator '\\t'\nunset title\nset grid\nset key top right box opaque\n"
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
           << "plot " << Quoted(residual_data) << " using 1:2 with points pt 7 ps 0.15 lc rgb '#999999' "
           << "title 'each frame'";
        if (several) {
            gp << ", " << file << " using " << angle << ":(-" << sem << "/" << mean << "):(" << sem << "/" << mean
               << ")" << band << " title '+- standard error, relative', " << file << " using " << angle << ":(-"
               << predicted << "/" << mean << ")" << dashed << " title '+- predicted, relative', " << file
               << " using " << angle << ":(" << predicted << "/" << mean << ")" << dashed << " notitle";
        }
        gp << "\n";
    }
    gp << "unset multiplot\nunset output\n";
    if (Write_product_file(script, gp.str())) {
        remove_work();
        return failed("can't write " + script);
    }
    const bool drawn = Run_gnuplot(script);
    remove_work();
    Failure failure;
    for (const std::string& png : {map_png, profile_png}) {
        const std::string drawing = png + ".tmp";
        if (!drawn || std::rename(drawing.c_str(), png.c_str()) != 0) {
            std::remove(drawing.c_str());
            failure = failed("gnuplot could not draw " + png);
        }
    }
    return failure;
}

Failure Draw_scattering_plot(const std::string& folder, const std::string& profile_file, const std::string& fit_text,
                             bool has_beta, bool has_fit)
{
    const std::string script = folder + "/.night_scattering.gp";
    const std::string png = folder + "/" + night_scattering_plot_name;
    const std::string file = Quoted(profile_file) + " skip 1 using " + Column("s.angle(deg)") + ":";
    const std::string beta = "$" + Column("beta.rel(arb.u.)"), sigma = "$" + Column("sigma.beta.rel(arb.u.)");
    const std::string molecular = "$" + Column("beta.mol.rel(arb.u.)"), fitted = "$" + Column("beta.fit(arb.u.)");
    // A panel without data says so (gnuplot refuses an empty plot).
    const std::string none = "set label 1 '%s' at graph 0.5, 0.5 center\nplot [0:180] [0:1] -1 notitle\nunset label 1\n";
    auto empty = [&](const std::string& what) {
        char text[200];
        std::snprintf(text, sizeof text, none.c_str(), what.c_str());
        return std::string(text);
    };
    std::ostringstream gp;
    gp << "set terminal pngcairo noenhanced size 1100,1000 font 'sans,10'\n"
       << "set output " << Quoted(png + ".tmp") << "\n"
       << "set datafile separator '\\t'\nset grid\nset key top left\n"
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
    if (Write_product_file(script, gp.str())) return Failure{exit_product_not_written, "can't write " + script};
    const bool drawn = Run_gnuplot(script);
    std::remove(script.c_str());
    const std::string drawing = png + ".tmp";
    if (!drawn || std::rename(drawing.c_str(), png.c_str()) != 0) {
        std::remove(drawing.c_str());
        return Failure{exit_product_not_written, "gnuplot could not draw " + png};
    }
    return {};
}
