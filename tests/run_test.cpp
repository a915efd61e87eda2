// Whole runs of the built program on a generated full frame without a dark picture.
#include <gtest/gtest.h>

#include "support/scene_files.h"

namespace {

// A full frame at the black level 2048 with a beam 1000 brighter in the green
// cells of columns 2996 to 3003, from row 1000 to row 3000.
class NoDarkRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = scene::Make_folder();
        scene::Write_pgm(folder_ + "/laser.pgm", scene::full_width, scene::full_height,
                         [](int32_t x, int32_t y) -> uint16_t {
                             const bool green = (x % 2) != (y % 2);
                             const bool beam = x >= 2996 && x <= 3003 && y >= 1000 && y <= 3001;
                             return green && beam ? 3048 : 2048;
                         });
        scene::Write_file(folder_ + "/tavrolinconfig.txt", scene::Config_text("laser.pgm", "NODARK"));
        scene::Write_file(folder_ + "/tavrolinpath.txt", scene::Path_text({{3000, 3000}, {3000, 1000}}));
        result_ = scene::Run(TAVROLIN_EXE, folder_);
    }
    static void TearDownTestSuite() { scene::Remove_folder(folder_); }

    static std::string folder_;
    static scene::RunResult result_;
};

std::string NoDarkRun::folder_;
scene::RunResult NoDarkRun::result_;

TEST_F(NoDarkRun, ConsoleReportsEveryStage)
{
    EXPECT_EQ(result_.exit_code, 0);
    const std::string expected_start =
        std::string(scene::banner) +
        "Reading parameters from 'tavrolinconfig.txt' ...OK\n"
        "Reading laser path points from 'tavrolinpath.txt'... 2 points read\n"
        "Reading laser path image from file...\n"
        "laser.pgm file was opened succesfully...\n"
        "Horizontal size: 6384\n"
        "Vertical size:   4224\n"
        "Number of brightness levels:   65535\n"
        "Reading image data from file...OK\n"
        "No background image is available - using zero levels.\n"
        "Processing the picture of the laser beam...\n"
        "Highest level found: 3048\n"
        "Lowest level found:  2048\n"
        "Calculating zero level from covered pixels...OK\n"
        "Average zero level: 2048\n"
        "Average zero level R/G/B: 2048 / 2048 / 2048\n"
        "Average levels in the centre of picture: R = 0 G = 0 B = 0\n"
        "High-level-limit of 10000 applied.\n"
        "Writing new 'linearlyscaledG.PGM' file...OK\n"
        "Extracting tavrolin data into 'tavrolin_data.txt' file...\n"
        "Scaling coefficient (scattering angle = 90 deg) = ";
    EXPECT_EQ(result_.console.substr(0, expected_start.size()), expected_start);
    // The first row below the centre whose zenith angle passes 10 degrees (the
    // elevation) carries the coefficient; the beam's 8 green columns give about 8000.
    const std::string rest = result_.console.substr(expected_start.size());
    const std::string::size_type at = rest.find("    at x = 3000   y = ");
    ASSERT_NE(at, std::string::npos) << rest;
    const double coefficient = std::stod(rest.substr(0, at));
    EXPECT_GT(coefficient, 8000.0);
    EXPECT_LT(coefficient, 8100.0);
    const int row = std::stoi(rest.substr(at + 22));
    EXPECT_GT(row, 2139);
    EXPECT_LT(row, 2400);
    EXPECT_EQ(rest.substr(rest.size() - 4), "\nOK\n");
}

TEST_F(NoDarkRun, ProductsCoverTheFrameAndThePath)
{
    const std::string picture = scene::Read_file(folder_ + "/linearlyscaledG.PGM");
    const std::string header = "P5\n6384 4224\n65535\n";
    ASSERT_EQ(picture.size(), header.size() + 2u * 6384 * 4224);
    EXPECT_EQ(picture.substr(0, header.size()), header);

    const std::string table = scene::Read_file(folder_ + "/tavrolin_data.txt");
    size_t lines = 0;
    for (char c : table) lines += c == '\n';
    EXPECT_EQ(lines, 1u + 1000u);   // header and rows 1000, 1002, ... 2998
    EXPECT_NE(table.find("\n3000\t1000\t"), std::string::npos);
    EXPECT_NE(table.find("\n3000\t2998\t"), std::string::npos);
    EXPECT_EQ(table.find("\n3000\t3000\t"), std::string::npos);
}

}  // namespace
