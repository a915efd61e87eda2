// The sample scene with its known answer, end to end: the generator's full-frame
// pictures through the built program must give back the scene's true scattering
// profile. Also the generator's random numbers and the profile plot script.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scene_model.h"
#include "support/scene_files.h"

namespace {

using Table = std::vector<std::vector<double>>;

// Reads a tab-separated table after its header line, every field as a number.
Table Read_table(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    Table rows;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::vector<double> row;
        std::string field;
        while (std::getline(fields, field, '\t')) row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Columns of the program's table and of the scene's truth table.
enum { data_x, data_y, data_angle = 6, data_signal, data_median };
enum { truth_y, truth_x, truth_angle, truth_net, truth_sigma, truth_signal };

struct Agreement {
    size_t rows_compared;
    double signal_rms;   // relative to the true signal
    double median_rms;
};

// Compares the program's table with the truth over the rows whose expected beam
// signal stands at least 20 noise deviations above the background.
Agreement Compare_with_truth(const Table& data, const Table& truth)
{
    Agreement a{0, 0.0, 0.0};
    for (size_t i = 0; i < data.size(); ++i) {
        const std::vector<double>& t = truth[i];
        if (t[truth_net] < 20.0 * t[truth_sigma]) continue;
        const double signal = data[i][data_signal] / t[truth_signal] - 1.0;
        const double median = data[i][data_median] / t[truth_signal] - 1.0;
        a.signal_rms += signal * signal;
        a.median_rms += median * median;
        ++a.rows_compared;
    }
    if (a.rows_compared > 0) {
        a.signal_rms = std::sqrt(a.signal_rms / double(a.rows_compared));
        a.median_rms = std::sqrt(a.median_rms / double(a.rows_compared));
    }
    return a;
}

// Writes the scene of the generator's `options` into `folder`, runs the program
// there and compares its table with the scene's truth.
void Expect_true_profile(const std::string& folder, const std::string& options, bool dark,
                         const std::string& what)
{
    ASSERT_EQ(Shell(std::string("'") + SCENE_EXE + "' " + options + " '" + folder + "' > /dev/null"), 0);
    const std::string config = scene::Read_file(folder + "/tavrolinconfig.txt");
    EXPECT_EQ(config.find("NODARK") == std::string::npos, dark) << config;

    const scene::RunResult run = scene::Run(TAVROLIN_EXE, folder);
    ASSERT_EQ(run.exit_code, 0) << run.console;
    EXPECT_EQ(run.console.find("No background image is available") == std::string::npos, dark);

    const Table data = Read_table(folder + "/tavrolin_data.txt");
    const Table truth = Read_table(folder + "/" + scene_model::truth_name);
    ASSERT_GT(truth.size(), 1000u);
    ASSERT_EQ(data.size(), truth.size());

    // The same rows, beam columns and scattering angles; a profile with a real shape.
    double lowest = truth[0][truth_signal], highest = lowest;
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(data[i].size(), 10u) << "table line " << i + 2;
        EXPECT_EQ(data[i][data_y], truth[i][truth_y]);
        EXPECT_EQ(data[i][data_x], truth[i][truth_x]);
        EXPECT_NEAR(data[i][data_angle], truth[i][truth_angle], 1e-3) << "row " << truth[i][truth_y];
        lowest = std::min(lowest, truth[i][truth_signal]);
        highest = std::max(highest, truth[i][truth_signal]);
    }
    EXPECT_GT(highest / lowest, 4.0);

    const Agreement a = Compare_with_truth(data, truth);
    EXPECT_GT(a.rows_compared, truth.size() / 2);
    EXPECT_LT(a.signal_rms, 0.02);
    EXPECT_LT(a.median_rms, a.signal_rms);
    std::cout << what << ", " << a.rows_compared << " rows: signal RMS " << 100.0 * a.signal_rms
              << " %, running median RMS " << 100.0 * a.median_rms << " %" << std::endl;
    ::testing::Test::RecordProperty("signal_rms_percent", std::to_string(100.0 * a.signal_rms));
    ::testing::Test::RecordProperty("median_rms_percent", std::to_string(100.0 * a.median_rms));
}

class RoundTrip : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { folder = scene::Make_folder(); }
    void TearDown() override { scene::Remove_folder(folder); }
    std::string folder;
};

TEST_P(RoundTrip, RecoversTheTrueScatteringProfile)
{
    const bool dark = GetParam();
    Expect_true_profile(folder, dark ? "--seed 11" : "--seed 12 --no-dark", dark,
                        dark ? "with dark picture" : "without dark picture");
}

INSTANTIATE_TEST_SUITE_P(DarkPicture, RoundTrip, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("WithDarkPicture")
                                               : std::string("WithoutDarkPicture");
                         });

// Another image circle, elevation, laser distance, bands and median window: the
// generator moves the beam with the circle and writes the settings the truth used.
TEST(SceneOptions, AnotherGeometryStillGivesTheTrueProfile)
{
    const std::string folder = scene::Make_folder();
    Expect_true_profile(folder,
                        "--seed 13 --centre 3180,2160 --radius 1980 --elevation 20 --laser-distance 800 "
                        "--band-width 25 --side-scale 2 --median 6",
                        true, "another geometry");
    EXPECT_EQ(scene::Read_file(folder + "/tavrolinconfig.txt"),
              "scene_laser.pgm scene_dark.pgm 800 20 25 2 6 10000 100 3180 2160 1980\n");
    EXPECT_EQ(scene::Read_file(folder + "/tavrolinpath.txt"), "3029 430\n3352 4126\n");
    scene::Remove_folder(folder);
}

TEST(SceneOptions, HelpAndRefusals)
{
    const std::string scene_exe = std::string("'") + SCENE_EXE + "'";
    const std::string folder = scene::Make_folder();
    EXPECT_EQ(Shell(scene_exe + " --help > '" + folder + "/help.txt'"), 0);
    const std::string help = scene::Read_file(folder + "/help.txt");
    for (const char* option : {"--seed", "--no-dark", "--centre", "--radius", "--elevation",
                               "--laser-distance", "--band-width", "--side-scale", "--median"}) {
        EXPECT_NE(help.find(std::string("  ") + option + " "), std::string::npos) << option << "\n" << help;
    }

    // Refused, with exit code 2 and nothing written.
    for (const char* options : {"--radius 0", "--radius 2300", "--centre 3231", "--centre 100,2139",
                                "--elevation 90", "--band-width 1", "--median -1", "--seed -1",
                                "--frobnicate", "--median"}) {
        EXPECT_EQ(Shell(scene_exe + " " + options + " '" + folder + "/refused' 2> /dev/null"), 2) << options;
        EXPECT_NE(Shell("test -e '" + folder + "/refused'"), 0) << options;
    }
    scene::Remove_folder(folder);
}

TEST(ScenePrng, SameSeedSameNumbersAndUnitNormalDeviates)
{
    scene_model::Prng a, b, c;
    scene_model::Seed(a, 5);
    scene_model::Seed(b, 5);
    scene_model::Seed(c, 6);
    int differing = 0;
    double sum = 0.0, squares = 0.0;
    const int count = 200000;
    for (int i = 0; i < count; ++i) {
        const double x = scene_model::Next_normal(a);
        ASSERT_EQ(x, scene_model::Next_normal(b));
        if (x != scene_model::Next_normal(c)) ++differing;
        sum += x;
        squares += x * x;
    }
    EXPECT_EQ(differing, count);
    const double mean = sum / count;
    EXPECT_NEAR(mean, 0.0, 0.01);                           // 4.5 standard errors
    EXPECT_NEAR(squares / count - mean * mean, 1.0, 0.015);  // 4.7 standard errors
}

TEST(PlotScript, DrawsAProfileFromATable)
{
    if (Shell("command -v gnuplot > /dev/null") != 0) GTEST_SKIP() << "gnuplot is not installed";
    const std::string folder = scene::Make_folder();

    // A table in the program's layout, holding the sample scene's true profile.
    scene_model::SceneSettings settings;
    scene_model::Use_scene_geometry(settings);
    std::string table = "x(pixel)\ty(pixel)\tr(pixel)\tz.angle(deg)\ts.height(m)\ts.distance(m)\t"
                        "s.angle(deg)\tsignal(arb.u.)\tmedian(arb.u.)\tmedian*sin(s.angle)(arb.u.)\n";
    for (const scene_model::TruthRow& row : scene_model::Truth_table(settings)) {
        std::ostringstream line;
        line << row.x << '\t' << row.y << "\t0\t0\t0\t0\t" << row.alpha << '\t' << row.signal
             << '\t' << row.signal << '\t' << row.signal << '\n';
        table += line.str();
    }
    scene::Write_file(folder + "/tavrolin_data.txt", table);

    const std::string png = folder + "/profile.png";
    EXPECT_EQ(Shell("gnuplot -e \"data='" + folder + "/tavrolin_data.txt'; output='" + png +
                    "'\" '" PLOT_SCRIPT "'"),
              0);
    const std::string image = scene::Read_file(png);
    EXPECT_GT(image.size(), 1000u);
    EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    scene::Remove_folder(folder);
}

}  // namespace
