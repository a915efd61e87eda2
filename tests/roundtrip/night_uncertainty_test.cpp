// The rows' uncertainties through tavrolin-night on one full generated frame of known
// truth: the pulls of the net signal, the gain estimate, profile.tsv and night.json;
// a path beside the beam finds no beam; saturated beam pixels flag their row. The
// scattering function on a noiseless frame of the generator's physical beam.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/scene_files.h"

namespace {

using Fields = std::vector<std::string>;

std::vector<Fields> Read_tsv(const std::string& path)
{
    std::ifstream file(path);
    std::vector<Fields> rows;
    std::string line;
    while (std::getline(file, line)) {
        Fields fields;
        std::istringstream cells(line);
        std::string field;
        while (std::getline(cells, field, '\t')) fields.push_back(field);
        rows.push_back(fields);
    }
    return rows;
}

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Columns of profile.tsv and of the scene's truth table.
enum { p_x, p_y, p_angle = 6, p_net = 10, p_sigma_net, p_sigma_signal, p_sigma_median, p_background,
       p_sigma_background, p_flags, p_dz, p_beta, p_sigma_beta, p_beta_mol, p_ratio, p_sigma_ratio,
       p_sigma_net_common, p_columns };
enum { truth_y, truth_x, truth_angle, truth_net, truth_sigma };

// One full frame for all three cases (each night run takes a second or two).

class NightUncertainty : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = scene::Make_folder();
        ASSERT_EQ(Shell("'" SCENE_EXE "' --seed 21 --no-dark --gain 2 --read-noise 5 '" + folder_ +
                        "' > /dev/null"),
                  0);
    }
    static void TearDownTestSuite() { scene::Remove_folder(folder_); }

    // Runs the night on the scene's frame with `options` into `out`; the exit code,
    // standard output in `output`.
    int Night(const std::string& options, const std::string& out, std::string& output)
    {
        const std::string log = folder_ + "/" + out + ".log";
        const int code = Shell("cd '" + folder_ + "' && '" NIGHT_EXE "' --jobs 1 --no-pictures --out " +
                               out + " " + options + " scene_laser.pgm > '" + log + "' 2>&1");
        output = scene::Read_file(log);
        return code;
    }
    nlohmann::json Record(const std::string& out)
    {
        return nlohmann::json::parse(scene::Read_file(folder_ + "/" + out + "/night.json"));
    }

    static std::string folder_;
};
std::string NightUncertainty::folder_;

TEST_F(NightUncertainty, PullsOfTheNetSignalAndTheGainEstimateOnAFrameOfKnownTruth)
{
    std::string output;
    ASSERT_EQ(Night("", "plain", output), 0) << output;
    EXPECT_EQ(output.find("no beam found"), std::string::npos) << output;
    const nlohmann::json frame = Record("plain").at("frames").at(0);
    EXPECT_EQ(frame.at("beam_found"), true);
    EXPECT_EQ(frame.at("gain_estimated"), true);
    EXPECT_NEAR(frame.at("gain").get<double>(), 2.0, 0.2);

    const std::vector<Fields> profile = Read_tsv(folder_ + "/plain/scene_laser/" + "profile.tsv");
    const std::vector<Fields> table = Read_tsv(folder_ + "/plain/scene_laser/tavrolin_data.txt");
    const std::vector<Fields> truth = Read_tsv(folder_ + "/scene_truth.txt");
    ASSERT_EQ(profile.size(), table.size());
    ASSERT_EQ(profile.size(), truth.size());
    ASSERT_GT(profile.size(), 1000u);
    EXPECT_EQ(profile[0][p_net], "net(DN)");
    EXPECT_EQ(profile[0][p_flags], "flags");
    double sum = 0.0, squares = 0.0;
    size_t n = 0;
    for (size_t i = 1; i < profile.size(); ++i) {
        ASSERT_EQ(profile[i].size(), size_t(p_columns)) << "line " << i + 1;
        // The table's own ten columns, as the table prints them.
        EXPECT_EQ(Fields(profile[i].begin(), profile[i].begin() + 10), table[i]) << "line " << i + 1;
        EXPECT_EQ(profile[i][p_flags], "-") << "line " << i + 1;
        const double pull = (std::stod(profile[i][p_net]) - std::stod(truth[i][truth_net])) /
                            std::stod(profile[i][p_sigma_net]);
        sum += pull;
        squares += pull * pull;
        ++n;
        EXPECT_GT(std::stod(profile[i][p_sigma_signal]), 0.0);
        EXPECT_GT(std::stod(profile[i][p_sigma_background]), 0.0);
    }
    // Some 1900 rows give the pulls' SD to about 2 per cent.
    const double mean = sum / double(n);
    const double sd = std::sqrt(squares / double(n) - mean * mean);
    std::cout << n << " rows: pulls SD " << sd << ", mean " << mean << std::endl;
    EXPECT_NEAR(sd, 1.0, 0.1);
    EXPECT_NEAR(mean, 0.0, 0.2);
}

TEST_F(NightUncertainty, APathBesideTheBeamFailsTheFrameWithNoBeamAndTheNightWith2)
{
    // The scene's path, 400 pixels to the right: the only frame measured nothing.
    scene::Write_file(folder_ + "/beside.txt", "3474 346\n3809 4176\n");
    std::string output;
    ASSERT_EQ(Night("--path beside.txt", "beside", output), 2) << output;
    EXPECT_NE(output.find("scene_laser: failed (code 2): no_beam: no beam found along the path ("), std::string::npos)
        << output;
    const nlohmann::json frame = Record("beside").at("frames").at(0);
    EXPECT_EQ(frame.at("beam_found"), false);
    EXPECT_EQ(frame.at("status"), "failed");
    const std::vector<Fields> profile = Read_tsv(folder_ + "/beside/scene_laser/profile.tsv");
    size_t weak = 0;
    for (size_t i = 1; i < profile.size(); ++i) weak += profile[i][p_flags].find("weak") != std::string::npos;
    EXPECT_GT(weak, 9 * (profile.size() - 1) / 10);
}

TEST_F(NightUncertainty, AFaintBeamWhoseRowsAreWeakOneByOneIsStillMeasured)
{
    // The scene's beam at a hundredth of its light: most rows below 3 sigma, all rows
    // together far above.
    const std::string faint = folder_ + "/faint";
    ASSERT_EQ(Shell("'" SCENE_EXE "' --seed 22 --no-dark --gain 2 --read-noise 5 --beam-integral 5400 '" + faint +
                    "' > /dev/null"),
              0);
    const std::string log = faint + "/night.log";
    ASSERT_EQ(Shell("cd '" + faint + "' && '" NIGHT_EXE "' --jobs 1 --no-pictures --out night scene_laser.pgm > '" +
                    log + "' 2>&1"),
              0)
        << scene::Read_file(log);
    EXPECT_NE(scene::Read_file(log).find("scene_laser: most rows weak (a faint beam)"), std::string::npos)
        << scene::Read_file(log);
}

TEST_F(NightUncertainty, SaturatedBeamPixelsFlagTheirRowAndTheGainCanBeImposed)
{
    // Two green samples of the beam's cell on row 2000 at the clip, 65535.
    int x = -1;
    for (const Fields& row : Read_tsv(folder_ + "/scene_truth.txt")) {
        if (row[truth_y] == "2000") x = std::stoi(row[truth_x]);
    }
    ASSERT_GT(x, 0);
    const std::string picture = folder_ + "/scene_laser.pgm";
    std::string bytes = scene::Read_file(picture);
    const size_t header = bytes.size() - 2 * size_t(scene::full_width) * scene::full_height;
    const int x0 = x - x % 2;
    for (const auto& [column, row] : {std::pair<int, int>{x0 + 1, 2000}, {x0, 2001}}) {
        const size_t at = header + 2 * (size_t(row) * scene::full_width + size_t(column));
        bytes[at] = bytes[at + 1] = char(0xFF);
    }
    scene::Write_file(folder_ + "/clipped.pgm", bytes);
    const std::string out = folder_ + "/clipped";
    ASSERT_EQ(Shell("cd '" + folder_ + "' && '" NIGHT_EXE "' --jobs 1 --no-pictures --gain 2.5 --out clipped"
                    " clipped.pgm > clipped.log 2>&1"),
              0)
        << scene::Read_file(folder_ + "/clipped.log");
    const std::vector<Fields> profile = Read_tsv(out + "/clipped/profile.tsv");
    size_t flagged = 0;
    for (size_t i = 1; i < profile.size(); ++i) {
        const bool sat = profile[i][p_flags].find("sat") != std::string::npos;
        EXPECT_EQ(sat, profile[i][p_y] == "2000") << "row " << profile[i][p_y];
        flagged += sat;
    }
    EXPECT_EQ(flagged, 1u);
    const nlohmann::json frame = Record("clipped").at("frames").at(0);
    EXPECT_EQ(frame.at("gain"), 2.5);
    EXPECT_EQ(frame.at("gain_estimated"), false);
}

// A table that can't be written fails the frame (code 6) but skips no measurement:
// the rows' uncertainties, profile.tsv and the record's coefficient are there, the
// same as those of a night whose table was written.
TEST_F(NightUncertainty, ATableThatCantBeWrittenSkipsNoMeasurement)
{
    std::string output;
    ASSERT_EQ(Shell("mkdir -p '" + folder_ + "/blocked/scene_laser/tavrolin_data.txt'"), 0);
    EXPECT_EQ(Night("", "blocked", output), 2) << output;
    EXPECT_NE(output.find("scene_laser: failed (code 6): Can't write 'blocked/scene_laser/tavrolin_data.txt'"),
              std::string::npos)
        << output;
    std::string plain;
    ASSERT_EQ(Night("", "written", plain), 0) << plain;
    EXPECT_EQ(scene::Read_file(folder_ + "/blocked/scene_laser/profile.tsv"),
              scene::Read_file(folder_ + "/written/scene_laser/profile.tsv"));
    const nlohmann::json frame = Record("blocked").at("frames").at(0);
    EXPECT_EQ(frame.at("coefficient"), Record("written").at("frames").at(0).at("coefficient"));
    EXPECT_EQ(frame.at("beam_found"), true);
}

}  // namespace

// A noiseless frame of pure air scattering a laser polarised in the plane of
// scattering (psi = 0), bright enough that the samples' rounding stays small.
class PhysicalScene : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = scene::Make_folder();
        ASSERT_EQ(Shell("'" SCENE_EXE "' --physical --aerosol-q 0 --polarisation 0 --read-noise 0 --gain 1e-9 "
                        "--beam-scale 20000 '" + folder_ + "' > /dev/null"),
                  0);
    }
    static void TearDownTestSuite() { scene::Remove_folder(folder_); }

    // The unflagged rows of the frame's profile.tsv after a night with `options`.
    std::vector<Fields> Rows(const std::string& options, const std::string& out)
    {
        const int code = Shell("cd '" + folder_ + "' && '" NIGHT_EXE "' --jobs 1 --no-pictures --out " + out + " " +
                               options + " --dark scene_dark.pgm scene_laser.pgm > /dev/null 2>&1");
        EXPECT_EQ(code, 0) << options;
        std::vector<Fields> rows;
        for (const Fields& row : Read_tsv(folder_ + "/" + out + "/scene_laser/profile.tsv")) {
            if (row.size() == size_t(p_columns) && row[p_flags] == "-") rows.push_back(row);
        }
        return rows;
    }
    static std::string folder_;
};
std::string PhysicalScene::folder_;

TEST_F(PhysicalScene, BetaRelFollowsTheTruthAndTheRatioThePolarisationAssumed)
{
    std::map<std::string, double> truth;
    for (const Fields& row : Read_tsv(folder_ + "/scene_beta_truth.txt")) {
        if (row.size() == 4 && row[0] != "y(pixel)") truth[row[0]] = std::stod(row[3]);
    }
    const std::vector<Fields> right = Rows("--polarisation 0", "right");
    ASSERT_GT(right.size(), 1000u);
    for (const Fields& row : right) {
        ASSERT_NEAR(std::stod(row[p_beta]) / truth.at(row[p_y]), 1.0, 0.003) << "row " << row[p_y];
        ASSERT_NEAR(std::stod(row[p_ratio]), 1.0, 0.005) << "row " << row[p_y];
    }
    // Taken for a field across the plane, the ratio follows P_par / P_perp: near 2 gamma /
    // (1 + gamma) of its value at 90 degrees far forward and back, some twenty times
    // more than there.
    const std::vector<Fields> wrong = Rows("--polarisation 90", "wrong");
    ASSERT_EQ(wrong.size(), right.size());
    const double gamma = 0.0144;
    double highest = 0.0;
    for (const Fields& row : wrong) {
        const double c = std::cos(std::stod(row[p_angle]) * 3.141592653589793 / 180.0);
        const double shape = (2.0 * gamma + (1.0 - gamma) * c * c) / (2.0 * gamma);
        ASSERT_NEAR(std::stod(row[p_ratio]) / shape, 1.0, 0.02) << "row " << row[p_y];
        highest = std::max(highest, std::stod(row[p_ratio]));
    }
    EXPECT_GT(highest, 20.0);

    EXPECT_EQ(Shell("'" NIGHT_EXE "' --polarisation sideways x.pgm > /dev/null 2>&1"), 64);
}
