// Colour cells, dark levels and centre statistics, and the fish-eye lens model.
#include <cmath>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pictures.h"
#include "measure/beam_table.h"
#include "input/pgm.h"
#include "model/bayer.h"
#include "model/lens.h"
#include "model/levels.h"

namespace {

// Captures what the code under test prints on the console.
class ConsoleCapture {
public:
    ConsoleCapture() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
    ~ConsoleCapture() { std::cout.rdbuf(saved_); }
    std::string Text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* saved_;
};

void Set_zero_levels(float laser_R, float laser_G, float laser_B, float dark_R, float dark_G,
                     float dark_B)
{
    zero_level_R = laser_R;
    zero_level_G = laser_G;
    zero_level_B = laser_B;
    zero_level_R_bckg = dark_R;
    zero_level_G_bckg = dark_G;
    zero_level_B_bckg = dark_B;
}

class LensModel : public ::testing::Test {
protected:
    void SetUp() override { Reset_run_parameters(); }
};

TEST_F(LensModel, ZenithAngleOfRadius)
{
    EXPECT_EQ(R2thetadeg(0.0f), 0.0f);
    EXPECT_NEAR(R2thetadeg(500.0f), 19.05, 0.005);
    EXPECT_NEAR(R2thetadeg(1000.0f), 39.90, 0.005);
    EXPECT_NEAR(R2thetadeg(1500.0f), 62.55, 0.005);
    EXPECT_NEAR(R2thetadeg(2052.0f), 89.66, 0.005);
    EXPECT_LT(R2thetadeg(2052.0f), 90.0f);
    EXPECT_NEAR(R2thetadeg(2100.0f), 92.12, 0.005);
    rmax = 1990;   // the reference circle itself: no rescaling
    EXPECT_FLOAT_EQ(R2thetadeg(1990.0f), float(0.037419 * 1990 + 3.8364e-06 * 1990 * 1990));
}

TEST_F(LensModel, RadiusOfZenithAngleIsAnApproximateInverse)
{
    EXPECT_EQ(Thetadeg2r(0.0f), 0.0f);
    EXPECT_NEAR(Thetadeg2r(45.0f), 1118.0, 1.0);
    EXPECT_NEAR(Thetadeg2r(90.0f) - 2052.0, 0.27, 0.01);
    EXPECT_NEAR(500.0 - Thetadeg2r(R2thetadeg(500.0f)), 4.7, 0.05);
    EXPECT_NEAR(2052.0 - Thetadeg2r(R2thetadeg(2052.0f)), 6.2, 0.05);
    EXPECT_NEAR(Thetadeg2r(R2thetadeg(1000.0f)), 1000.0, 0.03);
}

TEST_F(LensModel, SensitivityFallsOffUpToNinetyDegreesOnly)
{
    EXPECT_EQ(Sensitivity(0.0f), 1.0f);
    EXPECT_NEAR(Sensitivity(45.0f), 0.961, 0.0005);
    EXPECT_NEAR(Sensitivity(60.0f), 0.907, 0.0005);
    EXPECT_NEAR(Sensitivity(90.0f), 0.687, 0.0005);
    EXPECT_EQ(Sensitivity(std::nextafter(90.0f, 100.0f)), 1.0f);
    EXPECT_EQ(Sensitivity(135.0f), 1.0f);
    EXPECT_GT(Sensitivity(-30.0f), 1.0f);
}

TEST_F(LensModel, PositionOfAngleAndAzimuth)
{
    const float pi = 3.14159265358979f;
    const float half_pi = static_cast<float>(3.141592653589793 / 2);
    int32_t x, y;
    float sens;
    ThetaFi2xys(half_pi, 0.0f, x, y, sens);
    EXPECT_EQ(x, 5283);
    EXPECT_EQ(y, 2139);
    EXPECT_NEAR(sens, 0.687, 0.0005);
    ThetaFi2xys(half_pi, half_pi, x, y, sens);   // cos of the float nearest pi/2 is negative
    EXPECT_EQ(x, 3230);
    EXPECT_EQ(y, 4191);
    ThetaFi2xys(half_pi, pi, x, y, sens);
    EXPECT_EQ(x, 1178);
    EXPECT_EQ(y, 2138);
    ThetaFi2xys(0.0f, 1.0f, x, y, sens);
    EXPECT_EQ(x, 3231);
    EXPECT_EQ(y, 2139);
    EXPECT_EQ(sens, 1.0f);
    ThetaFi2xys(100.0f / 180.0f * pi, 0.0f, x, y, sens);   // inside, beyond the limit angle
    EXPECT_EQ(x, 5466);
    EXPECT_EQ(y, 2139);
    EXPECT_EQ(sens, 1.0f);
}

TEST_F(LensModel, ChipBorderWarningIsPrintedOnce)
{
    const float theta = static_cast<float>(92.0 / 180.0 * 3.141592653589793);
    const float half_pi = static_cast<float>(3.141592653589793 / 2);
    was_no_warning = true;
    ConsoleCapture console;
    int32_t x, y;
    float sens;
    ThetaFi2xys(theta, half_pi, x, y, sens);
    EXPECT_EQ(y, 4228);
    EXPECT_EQ(sens, -1.0f);
    ThetaFi2xys(theta, half_pi, x, y, sens);
    EXPECT_EQ(sens, -1.0f);
    EXPECT_EQ(console.Text(), "chip border reached...");
    EXPECT_FALSE(was_no_warning);
}

// A small plane whose sample at (x, y) is 100 * y + x, and a dark plane of 1000 + that.
class ColourCells : public ::testing::Test {
protected:
    void SetUp() override
    {
        hsize = 8;
        vsize = 10;
        value.resize(80);
        value_bckg.resize(80);
        for (int i = 0; i < 80; ++i) {
            value.set(i, static_cast<uint16_t>(100 * (i / 8) + i % 8));
            value_bckg.set(i, static_cast<uint16_t>(1000 + value[i]));
        }
        Set_zero_levels(0, 0, 0, 0, 0, 0);
    }
};

TEST_F(ColourCells, EveryPixelOfACellGivesTheCellAndNegativeOddCoordinatesRoundUp)
{
    for (auto xy : {std::make_pair(5, 7), std::make_pair(4, 6), std::make_pair(5, 6),
                    std::make_pair(4, 7)}) {
        float R, G, B;
        Get_jas(value, xy.first, xy.second, R, G, B);
        EXPECT_EQ(R, 604.0f);
        EXPECT_EQ(G, (605.0f + 704.0f) / 2);
        EXPECT_EQ(B, 705.0f);
    }
    float R, G, B;
    Get_jas(value, -1, -1, R, G, B);   // the cell at origin (0, 0)
    EXPECT_EQ(R, 0.0f);
    EXPECT_EQ(G, 50.5f);
    EXPECT_EQ(B, 101.0f);
}

TEST_F(ColourCells, LevelsAreChosenByThePlaneObjectNotItsContents)
{
    Set_zero_levels(1, 2, 3, 10, 20, 30);
    const ImagePlane copy_of_laser = value;
    float R, G, B;
    Get_jas(value, 2, 2, R, G, B);
    EXPECT_EQ(R, 202.0f - 1);
    EXPECT_EQ(G, 252.5f - 2);
    EXPECT_EQ(B, 303.0f - 3);
    Get_jas(copy_of_laser, 2, 2, R, G, B);
    EXPECT_EQ(R, 202.0f - 10);
    EXPECT_EQ(G, 252.5f - 20);
    EXPECT_EQ(B, 303.0f - 30);
    Set_zero_levels(0, 0, 0, 5000, 5000, 5000);   // below its level: negative, not clamped
    Get_jas(value_bckg, 2, 2, R, G, B);
    EXPECT_EQ(R, 1202.0f - 5000);
}

// Full frames: the covered areas are fixed to the camera's sensor.
class DarkLevels : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset_run_parameters();
        hsize = 6384;
        vsize = 4224;
        Set_zero_levels(0, 0, 0, 0, 0, 0);
    }
    void Fill(ImagePlane& plane, uint16_t red, uint16_t green1, uint16_t green2, uint16_t blue)
    {
        plane.assign(size_t(hsize) * vsize, 0);
        for (int32_t y = 0; y < vsize; ++y) {
            for (int32_t x = 0; x < hsize; ++x) {
                const bool odd_x = x % 2, odd_y = y % 2;
                plane.set(size_t(y) * hsize + x,
                          odd_y ? (odd_x ? blue : green2) : (odd_x ? green1 : red));
            }
        }
    }
};

TEST_F(DarkLevels, SmallLevelsAreAveragedExactlyOverEveryCoveredPosition)
{
    // Sums stay below 2^24, so the float sums are exact and the mean of the raw
    // samples follows from counting the positions of each colour.
    Fill(value, 1, 2, 4, 8);
    value_bckg.assign(size_t(hsize) * vsize, 0);
    long long count[2][2] = {{0, 0}, {0, 0}};   // [odd row][odd column]
    const int32_t areas[2][4] = {{1, 6382, 5, 41}, {1, 118, 44, 4222}};
    for (const auto& a : areas)
        for (int32_t y = a[2]; y < a[3]; ++y)
            for (int32_t x = a[0]; x < a[1]; ++x) ++count[y % 2][x % 2];
    const long long n = count[0][0] + count[0][1] + count[1][0] + count[1][1];
    EXPECT_EQ(n, 6381LL * 36 + 117LL * 4178);
    const double raw_mean =
        double(1 * count[0][0] + 2 * count[0][1] + 4 * count[1][0] + 8 * count[1][1]) / n;

    ConsoleCapture console;
    Measure_levels();
    EXPECT_EQ(zero_level, static_cast<float>(raw_mean));
    EXPECT_EQ(zero_level_R, 1.0f);
    EXPECT_EQ(zero_level_G, 3.0f);
    EXPECT_EQ(zero_level_B, 8.0f);
    EXPECT_EQ(zero_level_R_bckg, 0.0f);
    EXPECT_EQ(zero_level_G_bckg, 0.0f);
    EXPECT_EQ(zero_level_B_bckg, 0.0f);
    EXPECT_EQ(maxvalue, 8.0f);
    EXPECT_EQ(minvalue, 1.0f);
    // The centre square's cells less the levels just measured: all zero.
    EXPECT_NE(console.Text().find("Average levels in the centre of picture: R = 0 G = 0 B = 0\n"),
              std::string::npos);
}

TEST_F(DarkLevels, FloatSumsOfLargeLevelsDependOnTheirOrder)
{
    Fill(value, 2048, 2048, 2048, 2048);
    Fill(value_bckg, 2047, 2047, 2047, 2047);
    {
        ConsoleCapture console;
        Measure_levels();
        EXPECT_EQ(console.Text(),
                  "Processing the picture of the laser beam...\n"
                  "Highest level found: 2048\n"
                  "Lowest level found:  2048\n"
                  "Calculating zero level from covered pixels...OK\n"
                  "Average zero level: 2048\n"
                  "Average zero level R/G/B: 2048 / 2048 / 2048\n"
                  "Average levels in the centre of picture: R = 0 G = 0 B = 0\n");
    }
    EXPECT_EQ(zero_level, 2048.0f);
    // 2047 is not a multiple of the float spacing once the sum passes 2^24: each
    // addition rounds, and the mean comes out almost one too high.
    EXPECT_GT(zero_level_R_bckg, 2047.5f);
    EXPECT_LT(zero_level_R_bckg, 2048.5f);
    EXPECT_EQ(zero_level_R_bckg, zero_level_G_bckg);
    EXPECT_EQ(zero_level_R_bckg, zero_level_B_bckg);

    Fill(value, 2047, 2047, 2047, 2047);
    ConsoleCapture console;
    Measure_levels();
    EXPECT_GT(zero_level, 2047.5f);
    EXPECT_EQ(zero_level, zero_level_G);
}

TEST_F(DarkLevels, CentreSquareIsScannedAroundTheMiddleOfThePictureArea)
{
    // A level of 64 keeps every float sum of the covered pass exact.
    Fill(value, 64, 64, 64, 64);
    value_bckg.assign(size_t(hsize) * vsize, 0);
    // Below the covered rows, column 3252 is raised by 100; column 3254 lies
    // outside a 5 pixel square around column 3251 and is raised a lot.
    for (int32_t y = 44; y < vsize; ++y) {
        value.set(size_t(y) * hsize + 3252, 164);
        value.set(size_t(y) * hsize + 3254, 60000);
    }
    center_size = 5;
    ConsoleCapture console;
    Measure_levels();
    EXPECT_EQ(zero_level_R, 64.0f);
    // Columns 3249 to 3253 read the cells at 3248 (once), 3250 (twice) and 3252
    // (twice). The cell at 3252 has red 164 and greens 64 and 164: net 100 and 50.
    EXPECT_NE(console.Text().find("centre of picture: R = 40 G = 20 B = 0\n"), std::string::npos)
        << console.Text();

    center_size = 0;   // no square: zero means
    ConsoleCapture again;
    Measure_levels();
    EXPECT_NE(again.Text().find("R = 0 G = 0 B = 0\n"), std::string::npos);
}

}  // namespace
