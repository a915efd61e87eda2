#include "night/night_plots.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

// The colour map's data: per measured frame and row, the frame's place, the row's
// height, half the height step to its neighbours, and the signal.
std::string Map_data(const std::vector<FrameRecord>& frames, double& low, double& high)
{
    std::ostringstream data;
    data.precision(9);
    std::vector<double> all;
    for (size_t i = 0; i < frames.size(); ++i) {
        const std::vector<TableRow>& rows = frames[i].rows;
        if (!frames[i].measured) continue;
        for (size_t k = 0; k < rows.size(); ++k) {
            const size_t before = k > 0 ? k - 1 : k;
            const size_t after = k + 1 < rows.size() ? k + 1 : k;
            const double span = after > before ? double(after - before) : 1.0;
            const double half = std::fabs(double{rows[after].height} - rows[before].height) / span / 2.0;
            if (!std::isfinite(rows[k].signal) || !std::isfinite(rows[k].height)) continue;
            data << i << ' ' << rows[k].height << ' ' << half << ' ' << rows[k].signal << '\n';
            all.push_back(rows[k].signal);
        }
    }
    // The colours span the 1st to the 99th percentile: a few rows near the ends of the
    // path would otherwise take the whole scale.
    low = 0.0;
    high = 1.0;
    if (!all.empty()) {
        std::sort(all.begin(), all.end());
        low = all[all.size() / 100];
        high = all[all.size() - 1 - all.size() / 100];
        if (!(high > low)) high = low + 1.0;
    }
    return data.str();
}

// The band mean - sem ... mean + sem against height as one closed outline: the lower
// edge up the rows, the upper edge back down (rows without a standard error are left
// out).
std::string Height_band_data(const std::vector<ProfileRow>& profile)
{
    std::ostringstream data;
    data.precision(9);
    std::vector<const ProfileRow*> rows;
    for (const ProfileRow& row : profile) {
        if (std::isfinite(row.sem) && std::isfinite(row.mean) && std::isfinite(row.height)) rows.push_back(&row);
    }
    for (const ProfileRow* row : rows) data << row->mean - row->sem << '\t' << row->height << '\n';
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        data << (*row)->mean + (*row)->sem << '\t' << (*row)->height << '\n';
    }
    return data.str();
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
    const std::string map_data = folder + "/.night_map.dat";
    const std::string band_data = folder + "/.night_band.dat";
    const std::string script = folder + "/.night_plots.gp";
    const std::string map_png = folder + "/" + night_map_name;
    const std::string profile_png = folder + "/" + night_profile_plot_name;
    double low = 0.0, high = 1.0;
    if (Write_product_file(map_data, Map_data(frames, low, high))) return failed("can't write " + map_data);
    if (Write_product_file(band_data, Height_band_data(profile))) {
        std::remove(map_data.c_str());
        return failed("can't write " + band_data);
    }
    // The profile's columns by name: scattering angle, height, mean and the two
    // standard errors.
    const std::string angle = Column("s.angle(deg)"), height = Column("s.height(m)");
    const std::string mean = Column("mean(arb.u.)");
    // In expressions: the values of the columns.
    const std::string mean_value = "$" + mean, sem = "$" + Column("sem(arb.u.)");
    const std::string predicted = "$" + Column("sem.predicted(arb.u.)");

    std::ostringstream gp;
    gp.precision(9);
    gp << "set terminal pngcairo noenhanced size 1100,750 font 'sans,10'\n"
       << "set output " << Quoted(map_png + ".tmp") << "\n"
       << "set title 'Normalised net signal of every frame'\n"
       << "set xlabel 'frame'\nset ylabel 'height of the scattering point (m)'\n"
       << "set cblabel 'normalised signal (arb.u.)'\n"
       << "set xrange [-0.5:" << double(frames.size()) - 0.5 << "]\n"
       << "set cbrange [" << low << ":" << high << "]\nset palette rgb 33,13,10\n"
       << "set style fill solid noborder\nunset key\nset xtics rotate by 45 right (";
    for (size_t i = 0; i < frames.size(); ++i) {
        gp << (i ? ", " : "") << Quoted(frames[i].name) << " " << i;
    }
    gp << ")\n";
    const bool any_row = std::any_of(frames.begin(), frames.end(), [](const FrameRecord& f) {
        return f.measured && !f.rows.empty();
    });
    if (any_row) {
        gp << "plot " << Quoted(map_data) << " using 1:2:(0.5):3:4 with boxxyerror fc palette\n";
    } else {
        gp << "set label 1 'no frame was measured' at graph 0.5, 0.5 center\n"
           << "plot [] [0:1] -1 notitle\nunset label 1\n";
    }
    gp << "unset output\n";

    gp << "set output " << Quoted(profile_png + ".tmp") << "\n"
       << "set datafile separator '\\t'\nunset xtics\nset xtics\nunset xrange\nunset yrange\n"
       << "set multiplot layout 1,2 title 'Mean normalised signal of the night: its standard error "
          "(band) and the one predicted from the sigmas of the frames (dashed)'\n"
       << "set title 'against scattering angle'\nset xlabel 'scattering angle (deg)'\n"
       << "set ylabel 'mean normalised signal (arb.u.)'\nset grid\n";
    if (!profile.empty()) {
        const bool several = std::any_of(profile.begin(), profile.end(),
                                         [](const ProfileRow& row) { return row.frames > 1; });
        // The band of the standard error, the predicted one's edges dashed, and the
        // mean as a line: the rows lie too close for error bars to show.
        const std::string fill = " fs transparent solid 0.35 noborder lc rgb '#7f9fd0' notitle";
        const std::string dashed = " with lines dt 2 lw 1 lc rgb '#c0392b' notitle";
        const std::string line = " with lines lw 1.5 lc rgb '#1f4e99' notitle\n";
        const std::string file = Quoted(profile_file);
        gp << "plot ";
        if (several) {
            gp << file << " skip 1 using " << angle << ":(" << mean_value << "-" << sem << "):(" << mean_value
               << "+" << sem << ") with filledcurves" << fill << ", " << file << " skip 1 using " << angle << ":("
               << mean_value << "-" << predicted << ")" << dashed << ", " << file << " skip 1 using " << angle
               << ":(" << mean_value << "+" << predicted << ")" << dashed << ", ";
        }
        gp << file << " skip 1 using " << angle << ":" << mean << line
           << "set title 'against height'\nset xlabel 'mean normalised signal (arb.u.)'\n"
           << "set ylabel 'height of the scattering point (m)'\nplot ";
        if (several) {
            gp << Quoted(band_data) << " using 1:2 with filledcurves closed" << fill << ", " << file
               << " skip 1 using (" << mean_value << "-" << predicted << "):" << height << dashed << ", " << file
               << " skip 1 using (" << mean_value << "+" << predicted << "):" << height << dashed << ", ";
        }
        gp << file << " skip 1 using " << mean << ":" << height << line;
    } else {
        gp << "set label 1 'no frame was measured' at graph 0.5, 0.5 center\n"
           << "plot [0:1] [0:1] -1 notitle\nset title 'against height'\n"
           << "set xlabel 'mean normalised signal (arb.u.)'\n"
           << "set ylabel 'height of the scattering point (m)'\nplot [0:1] [0:1] -1 notitle\n";
    }
    gp << "unset multiplot\nunset output\n";
    if (Write_product_file(script, gp.str())) {
        std::remove(map_data.c_str());
        std::remove(band_data.c_str());
        return failed("can't write " + script);
    }

    const bool drawn = Run_gnuplot(script);
    std::remove(map_data.c_str());
    std::remove(band_data.c_str());
    std::remove(script.c_str());
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
