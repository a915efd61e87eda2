// The products on small worked frames: the corrected picture, the beam signal and
// the data table.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "base/console.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pictures.h"
#include "measure/beam_table.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/lens.h"
#include "model/levels.h"
#include "measure/beam_signal.h"
#include "products/corrected_pgm.h"
#include "products/data_table.h"
#include "support/scene_files.h"

namespace {

// A small frame in a temporary working folder. The image circle is made so large
// that the lens sensitivity is exactly 1 on the whole frame, unless a test moves it.
class SmallFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset_run_parameters();
        rmax = 1 << 30;
        correction = 0.0f;
        maxvalue = zero_level = 0.0f;
        zero_level_R = zero_level_G = zero_level_B = 0.0f;
        zero_level_R_bckg = zero_level_G_bckg = zero_level_B_bckg = 0.0f;
        folder_ = scene::Make_folder();
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(folder_.c_str()), 0);
        saved_ = std::cout.rdbuf(console_.rdbuf());
    }
    void TearDown() override
    {
        std::cout.rdbuf(saved_);
        ASSERT_EQ(chdir(previous_), 0);
        scene::Remove_folder(folder_);
    }
    void Frame(int32_t width, int32_t height)
    {
        hsize = width;
        vsize = height;
        resolution = 65535;
        value.assign(size_t(width) * height, 0);
        value_bckg.assign(size_t(width) * height, 0);
    }
    // Sets both green samples of the cell at even (x0, y0).
    void Green(ImagePlane& plane, int32_t x0, int32_t y0, uint16_t level)
    {
        plane.set(size_t(y0) * hsize + x0 + 1, level);
        plane.set(size_t(y0 + 1) * hsize + x0, level);
    }
    void Path(const std::string& text)
    {
        laserpath.clear();
        std::istringstream in(text);
        ASSERT_EQ(Parse_laser_path(in).reason, "");
        std::sort(laserpath.begin(), laserpath.end(), Compare);
    }
    // The samples of the written picture after checking its header.
    std::vector<int> Picture_samples()
    {
        const std::string bytes = scene::Read_file("linearlyscaledG.PGM");
        const std::string header =
            "P5\n" + std::to_string(hsize) + " " + std::to_string(vsize) + "\n65535\n";
        EXPECT_EQ(bytes.compare(0, header.size(), header), 0);
        EXPECT_EQ(bytes.size(), header.size() + 2 * size_t(hsize) * vsize);
        std::vector<int> samples;
        for (size_t i = header.size(); i + 1 < bytes.size(); i += 2) {
            samples.push_back((static_cast<unsigned char>(bytes[i]) << 8) |
                              static_cast<unsigned char>(bytes[i + 1]));
        }
        return samples;
    }
    std::vector<std::vector<std::string>> Table()
    {
        std::vector<std::vector<std::string>> rows;
        std::istringstream text(scene::Read_file("tavrolin_data.txt"));
        std::string line;
        while (std::getline(text, line)) {
            std::vector<std::string> fields;
            std::istringstream cells(line);
            std::string field;
            while (std::getline(cells, field, '\t')) fields.push_back(field);
            rows.push_back(fields);
        }
        return rows;
    }

    std::ostringstream console_;

private:
    std::string folder_;
    char previous_[4096];
    std::streambuf* saved_ = nullptr;
};

TEST_F(SmallFrame, PictureIsScaledSoThatTheLargestValueIsFullRange)
{
    Frame(6, 4);
    Path("1000 0 1000 3");   // markers far outside the frame
    Green(value, 0, 0, 1000);
    Green(value, 2, 0, 500);
    Green(value, 4, 0, 100);
    Green(value_bckg, 4, 0, 300);   // darker in the laser picture than in the dark one
    ASSERT_EQ(Write_corrected_PGM().reason, "");

    const std::string bytes = scene::Read_file("linearlyscaledG.PGM");
    ASSERT_EQ(bytes.size(), 13u + 48u);
    EXPECT_EQ(bytes.substr(0, 13), "P5\n6 4\n65535\n");
    EXPECT_EQ(static_cast<unsigned char>(bytes[13]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[14]), 0xFF);
    const std::vector<int> expected_row = {65535, 65535, 32767, 32767, 0, 0};
    const std::vector<int> samples = Picture_samples();
    for (int y = 0; y < 2; ++y) {
        EXPECT_EQ(std::vector<int>(samples.begin() + 6 * y, samples.begin() + 6 * y + 6), expected_row);
    }
    EXPECT_EQ(std::vector<int>(samples.begin() + 12, samples.end()), std::vector<int>(12, 0));
}

TEST_F(SmallFrame, MarkerLinesOutlineTheBandAndTheMinusOneOfRowsOffThePath)
{
    Frame(80, 8);
    Path("40 2\n40 5\n");
    pathwidth = 3;
    sidescale = 2;
    maxvalue = 5000.0f;
    zero_level = 1000.0f;
    ASSERT_EQ(Write_corrected_PGM().reason, "");
    const std::vector<int> samples = Picture_samples();
    for (int y = 0; y < 8; ++y) {
        std::vector<int> marked;
        for (int x = 0; x < 80; ++x) {
            const int sample = samples[size_t(y) * 80 + x];
            if (sample != 0) {
                marked.push_back(x);
                EXPECT_EQ(sample, 65535);
            }
        }
        // On the path: 40 -+ 3 and 40 -+ 12; off it, -1 + 3 and -1 + 12.
        const std::vector<int> expected =
            (y >= 2 && y <= 5) ? std::vector<int>{28, 37, 43, 52} : std::vector<int>{2, 11};
        EXPECT_EQ(marked, expected) << "row " << y;
    }
}

TEST_F(SmallFrame, HighLevelLimitCutsBrightPixelsAndMarkers)
{
    Frame(20, 4);
    Path("10 0\n10 3\n");
    pathwidth = 4;   // markers at columns 6, 14, 2 and 18
    maxvalue = 5000.0f;
    zero_level = 1000.0f;   // marker level 4000
    Green(value, 0, 0, 8000);
    Green(value, 8, 0, 1500);

    correction = 3000.0f;
    ASSERT_EQ(Write_corrected_PGM().reason, "");
    std::vector<int> samples = Picture_samples();
    EXPECT_EQ(samples[0], 65535);    // 8000 cut to 3000
    EXPECT_EQ(samples[6], 65535);    // marker 4000 cut to 3000
    EXPECT_EQ(samples[8], 32767);    // 1500 of 3000
    EXPECT_EQ(samples[10], 0);

    correction = 1e-6f;   // as a float just below one millionth: no limit
    ASSERT_EQ(Write_corrected_PGM().reason, "");
    samples = Picture_samples();
    EXPECT_EQ(samples[0], 65535);
    EXPECT_EQ(samples[6], 32767);    // 4000 of 8000
    EXPECT_EQ(samples[8], 12287);    // 1500 of 8000: 12287.8 truncated
}

TEST_F(SmallFrame, AllDarkPictureIsWrittenAsZeros)
{
    Frame(20, 4);
    Path("10 0\n10 3\n");
    pathwidth = 2;
    maxvalue = 500.0f;
    zero_level = 1000.0f;   // negative marker level
    ASSERT_EQ(Write_corrected_PGM().reason, "");
    EXPECT_EQ(Picture_samples(), std::vector<int>(80, 0));
}

TEST_F(SmallFrame, ProductsAreReplacedOnlyWhenWrittenCompletely)
{
    Frame(6, 4);
    Path("1000 0 1000 3");
    scene::Write_file("linearlyscaledG.PGM", "earlier picture");
    ASSERT_EQ(Write_corrected_PGM().reason, "");
    EXPECT_EQ(scene::Read_file("linearlyscaledG.PGM").substr(0, 2), "P5");

    ASSERT_EQ(std::remove("linearlyscaledG.PGM"), 0);
    ASSERT_EQ(mkdir("linearlyscaledG.PGM", 0755), 0);   // a folder in the product's place
    EXPECT_EQ(Write_corrected_PGM().code, exit_product_not_written);
    ASSERT_EQ(mkdir("tavrolin_data.txt", 0755), 0);
    std::ostringstream advice;
    Use_advice(advice);
    pathwidth = 1;   // the beam and side bands inside the frame, as the band check keeps them
    Path("3 0 3 3");
    EXPECT_EQ(Write_green_data(Measure_green_data()).code, exit_product_not_written);
    Use_advice(std::cerr);
    EXPECT_EQ(console_.str(), "Can't write to 'tavrolin_data.txt' - file\n");
    EXPECT_EQ(advice.str(), "The system's reason: Is a directory (something that is not a file "
                            "stands in the product's place: move it away)\n");
    // No temporary file is left behind.
    EXPECT_EQ(std::system("test $(ls -A | wc -l) -eq 2"), 0);
}

// A row whose beam cells are 1000 and whose side cells carry their own column as
// level, with the beam at column 100, half width 15 and side scale 2.
class BeamRow : public SmallFrame {
protected:
    void SetUp() override
    {
        SmallFrame::SetUp();
        Frame(200, 4);
        pathwidth = 15;
        sidescale = 2;
        for (int32_t x0 = 0; x0 < 200; x0 += 2) {
            Green(value, x0, 0, x0 >= 84 && x0 <= 114 ? 1000 : static_cast<uint16_t>(x0));
        }
    }
};

TEST_F(BeamRow, NetSignalIsTheBandSumLessItsWidthTimesTheSideMedian)
{
    // Side samples: the cells 40 ... 82 and 116 ... 158 twice each, column 84 (in the
    // beam's cell) and column 160 once: 90 samples, of which the 46th smallest is 116.
    EXPECT_EQ(Net_signal(0, 100), 31 * 1000.0f - 31 * 116.0f);
    sidescale = 1;   // sides 70 ... 84 and 116 ... 130: 15 + 15 samples, the 16th is 116
    EXPECT_EQ(Net_signal(1, 100), 31 * 1000.0f - 31 * 116.0f);
}

TEST_F(BeamRow, BandSumAddsTheUnroundedLevelsToAFloat)
{
    // Away from the lens axis the sensitivity divides every level into a value that
    // is not a float; the sum adds those doubles to a float, one at a time.
    rmax = 2052;
    ycentre = 0;
    // Find an image centre for which rounding each level first would change the sum.
    float float_sum = 0.0f, float_sum_of_floats = 0.0f;
    double sum_of_doubles = 0.0;
    for (int32_t distance = 1500; distance < 1600 && float_sum == float_sum_of_floats; ++distance) {
        xcentre = 100 - distance;
        float_sum = float_sum_of_floats = 0.0f;
        sum_of_doubles = 0.0;
        for (int32_t c = 85; c <= 115; ++c) {
            const double q = Beam_level(c, 0);
            sum_of_doubles += q;
            float_sum = static_cast<float>(float_sum + q);
            float_sum_of_floats += static_cast<float>(q);
        }
    }
    ASSERT_NE(float_sum, float_sum_of_floats);   // the case tells the two readings apart
    std::vector<float> side;
    for (int32_t c = 40; c <= 84; ++c) side.push_back(static_cast<float>(Beam_level(c, 0)));
    for (int32_t c = 116; c <= 160; ++c) side.push_back(static_cast<float>(Beam_level(c, 0)));
    const float background = Median_of(side);
    EXPECT_EQ(Net_signal(0, 100), static_cast<float>(double{float_sum} - 31.0 * background));
    EXPECT_NEAR(float_sum, sum_of_doubles, 0.01);
}

TEST(Median, TakesTheUpperMiddleOfAnEvenCount)
{
    std::vector<float> odd = {5, 1, 3};
    EXPECT_EQ(Median_of(odd), 3.0f);
    std::vector<float> even = {4, 1, 3, 2};
    EXPECT_EQ(Median_of(even), 3.0f);
    std::vector<float> one = {-7};
    EXPECT_EQ(Median_of(one), -7.0f);
}

// Net signals of the processed rows 100, 102, ... 108 (path rows 100 to 110).
class SignalWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset_run_parameters();
        laserpath = {{50, 100}, {50, 110}};
        gnetto = {10.0f, 50.0f, 20.0f, 40.0f, 30.0f};   // rows 100, 102, 104, 106, 108
    }
};

TEST_F(SignalWindows, CoefficientWindowIsClampedToTheProcessedRows)
{
    median = 0;
    EXPECT_EQ(Scaling_coefficient(104), 20.0f);
    median = 3;   // rows 101, 103, 105, 107: the signals of 100 ... 106, upper middle
    EXPECT_EQ(Scaling_coefficient(104), 40.0f);
    median = 6;   // rows 96 ... 108 around 102: 100 thrice, 102 ... 108
    EXPECT_EQ(Scaling_coefficient(102), 20.0f);
}

TEST_F(SignalWindows, CoefficientWindowRepeatsTheEndSignals)
{
    median = 6;
    // 10, 10, 10, 50, 20, 40, 30 sorted: 10 10 10 20 30 40 50; index 3 is 20.
    EXPECT_EQ(Scaling_coefficient(102), 20.0f);
    median = 4;   // around 108: 104, 106, 108, 108, 108 -> 20 40 30 30 30 -> 30
    EXPECT_EQ(Scaling_coefficient(108), 30.0f);
    median = 2;   // no row qualified: every window row lies before the first processed row
    EXPECT_EQ(Scaling_coefficient(-1), 10.0f);
    median = 2000000000;   // a window far wider than the path stays cheap and exact
    EXPECT_EQ(Scaling_coefficient(104), 30.0f);   // ~1e9 copies of 10 and of 30 around 5 values
}

TEST_F(SignalWindows, RunningMedianLeavesOutRowsBeyondThePath)
{
    median = 4;   // first row: 100, 102, 104 only
    EXPECT_EQ(Running_medians()[0], 20.0f);
    median = 3;   // first row: windows 101 and 103 take 100 and 102: upper of 10, 50
    EXPECT_EQ(Running_medians()[0], 50.0f);
    median = 4;   // last row: 104, 106, 108 only
    EXPECT_EQ(Running_medians()[4], 30.0f);
    median = 2;   // inner row 104: 102, 104, 106
    EXPECT_EQ(Running_medians()[2], 40.0f);
}

// The running median by its plain definition: the window rows y - median ... y + median,
// every second one taken to the processed row at or below it, those outside the
// processed rows left out, sorted, and the element at index size / 2.
float Plain_running_median(int32_t y)
{
    std::vector<float> window;
    for (int64_t v = int64_t{y} - median; v <= int64_t{y} + median; v += 2) {
        const int64_t k = Processed_index(v);
        if (k >= 0 && k < static_cast<int64_t>(gnetto.size())) window.push_back(gnetto[size_t(k)]);
    }
    return Median_of(window);
}

TEST(RunningMedian, SlidingWindowGivesThePlainDefinitionsValues)
{
    std::mt19937 random(20261209);
    for (int trial = 0; trial < 400; ++trial) {
        Reset_run_parameters();
        const int32_t rows = 1 + static_cast<int32_t>(random() % 120);
        const int32_t y_F = static_cast<int32_t>(random() % 41) - 20;   // odd and even first rows
        laserpath = {{50, y_F}, {60, y_F + 2 * rows - static_cast<int32_t>(random() % 2)}};
        gnetto.assign(size_t(rows), 0.0f);
        // Few distinct values (many ties) or values of any size and sign.
        const bool ties = trial % 2 == 0;
        for (float& g : gnetto) {
            g = ties ? static_cast<float>(int(random() % 5) - 2)
                     : std::ldexp(static_cast<float>(int32_t(random() % 2000001) - 1000000), int(random() % 20) - 10);
        }
        const int32_t medians[] = {0, 1, 2, 3, 4, 5, 2 * rows - 1, 2 * rows, 4 * rows + 1,
                                   static_cast<int32_t>(random() % 60)};
        for (const int32_t m : medians) {
            median = m;
            const std::vector<float> running = Running_medians();
            ASSERT_EQ(running.size(), gnetto.size());
            for (int32_t k = 0; k < rows; ++k) {
                ASSERT_EQ(running[size_t(k)], Plain_running_median(y_F + 2 * k))
                    << "trial " << trial << ", median " << m << ", row " << k << " of " << rows;
            }
        }
    }
    // A window of 2^31 - 1 rows around a few hundred: every row takes them all.
    laserpath = {{50, 0}, {50, 600}};
    gnetto.assign(300, 0.0f);
    for (size_t k = 0; k < gnetto.size(); ++k) gnetto[k] = static_cast<float>((k * 37) % 101);
    median = 2147483647;
    const std::vector<float> widest = Running_medians();
    std::vector<float> sorted = gnetto;
    std::sort(sorted.begin(), sorted.end());
    for (const float m : widest) ASSERT_EQ(m, sorted[150]);
}

// A bright vertical beam at column 100 over dark sky, for the table's rows and geometry.
class BeamTable : public SmallFrame {
protected:
    void SetUp() override
    {
        SmallFrame::SetUp();
        Frame(200, 60);
        for (int32_t y0 = 0; y0 < 60; y0 += 2) {
            for (int32_t x0 = 0; x0 < 200; x0 += 2) {
                Green(value, x0, y0, static_cast<uint16_t>(x0 >= 96 && x0 <= 104 ? 900 + y0 : 100));
            }
        }
    }
    double Number(const std::string& field) { return std::strtod(field.c_str(), nullptr); }
};

TEST_F(BeamTable, OneLinePerSecondRowBelowTheLastPathPoint)
{
    const std::string header =
        "x(pixel)\ty(pixel)\tr(pixel)\tz.angle(deg)\ts.height(m)\ts.distance(m)\t"
        "s.angle(deg)\tsignal(arb.u.)\tmedian(arb.u.)\tmedian*sin(s.angle)(arb.u.)";
    for (int32_t last : {20, 21}) {
        Path("100 10\n100 " + std::to_string(last) + "\n");
        console_.str("");
        ASSERT_EQ(Write_green_data(Measure_green_data()).reason, "");
        const auto table = Table();
        ASSERT_EQ(table.size(), last == 20 ? 6u : 7u);
        std::string first_line;
        std::getline(std::istringstream(scene::Read_file("tavrolin_data.txt")) >> std::ws, first_line);
        EXPECT_EQ(first_line, header);
        for (size_t i = 1; i < table.size(); ++i) {
            ASSERT_EQ(table[i].size(), 10u);
            EXPECT_EQ(table[i][0], "100");
            EXPECT_EQ(table[i][1], std::to_string(10 + 2 * (i - 1)));
        }
        EXPECT_EQ(gnetto.size(), table.size() - 1);
        EXPECT_EQ(console_.str().rfind("\nScaling coefficient (scattering angle = 90 deg) = ", 0), 0u);
    }
}

TEST_F(BeamTable, ZenithAngleIsNegativeBeyondTheCentreSeenFromTheEndPoint)
{
    xcentre = 100;
    ycentre = 20;
    rmax = 2052;
    Path("100 10\n100 30\n");   // end point 10 pixels below the centre
    ASSERT_EQ(Write_green_data(Measure_green_data()).reason, "");
    const auto table = Table();
    ASSERT_EQ(table.size(), 11u);
    for (size_t i = 1; i < table.size(); ++i) {
        const int32_t y = 10 + 2 * int32_t(i - 1);
        const double r = Number(table[i][2]);
        const double theta = Number(table[i][3]);
        EXPECT_EQ(r, std::abs(y - 20)) << "row " << y;
        EXPECT_NEAR(std::abs(theta), R2thetadeg(float(r)), 1e-4);
        if (y < 20) {
            EXPECT_LT(theta, 0.0) << "row " << y;
        } else {
            EXPECT_GE(theta, 0.0) << "row " << y;   // r = 0 on the centre row
        }
        EXPECT_NEAR(Number(table[i][6]), 90.0 - theta + 10.0, 1e-3);   // scattering angle
    }
}

TEST_F(BeamTable, ZenithAnglesAreShiftedOnlyWhenTheFirstPointLiesBeyondFortyFive)
{
    // The image centre straight above the path; find the first distance of the
    // first path point whose zenith angle exceeds 45 degrees.
    rmax = 2052;
    xcentre = 100;
    int32_t distance = 1000;
    while (R2thetadeg(float(distance)) <= 45.0f) ++distance;
    for (int32_t first : {distance - 1, distance}) {
        ycentre = 10 - first;
        Path("100 10\n100 30\n");
        ASSERT_EQ(Write_green_data(Measure_green_data()).reason, "");
        const auto table = Table();
        const double theta_E = R2thetadeg(float(30 - ycentre));
        const double theta_first = Number(table[1][3]);
        if (R2thetadeg(float(first)) > 45.0f) {
            // Every row moves by 90 less the end point's angle.
            EXPECT_NEAR(theta_first, R2thetadeg(float(first)) + (90.0 - theta_E), 1e-3);
        } else {
            EXPECT_NEAR(theta_first, R2thetadeg(float(first)), 1e-4);
        }
    }
}

}  // namespace
