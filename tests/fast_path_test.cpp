// The fast row loops of the corrected picture held to the per-pixel formulas, bit
// for bit, on small random frames seen through a real lens: the image circle is about
// the size of the frame, so the sensitivity runs from 1 at the image centre down to
// its value near 90 degrees, and the frame's far corners lie beyond 90 degrees.
// This file is built twice (tests/CMakeLists.txt): with the row loops in every
// version the processor can pick, and with their default version only.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pictures.h"
#include "measure/beam_table.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/bayer.h"
#include "model/lens.h"
#include "model/levels.h"
#include "products/corrected_pgm.h"
#include "support/scene_files.h"

namespace {

// The net green level of pixel (x, y): its cell's green reading in the laser picture
// less that in the dark picture.
float Plain_net_green(int32_t x, int32_t y)
{
    float R, G_laser, G_dark, B;
    Get_jas(value, x, y, R, G_laser, B);
    Get_jas(value_bckg, x, y, R, G_dark, B);
    return static_cast<float>(double{G_laser} - G_dark);
}

// The radius of pixel (x, y) as the corrected picture forms it.
float Plain_radius(int32_t x, int32_t y)
{
    const float dx = static_cast<float>(x - xcentre);
    const float dy = static_cast<float>(y - ycentre);
    const float squared_dx = dx * dx;
    const float r2 = static_cast<float>(double{squared_dx} + double{dy} * dy);
    return static_cast<float>(std::sqrt(double{r2}));
}

// The corrected value of pixel (x, y), one formula after the other.
float Plain_corrected(int32_t x, int32_t y)
{
    const float S = Sensitivity(R2thetadeg(Plain_radius(x, y)));
    float g = static_cast<float>(Plain_net_green(x, y) / double{S});
    if (g < 0.0f) g = 0.0f;
    const int32_t p = Getpathx(y);
    const int32_t side = 2 * sidescale * pathwidth;
    if (x == p - pathwidth || x == p + pathwidth || x == p - side || x == p + side) {
        g = maxvalue - zero_level;
    }
    if (correction > 1e-6 && g > correction) g = correction;
    return g;
}

float Plain_largest_value()
{
    float m = -std::numeric_limits<float>::infinity();
    for (int32_t y = 0; y < vsize; ++y) {
        for (int32_t x = 0; x < hsize; ++x) m = std::max(m, Plain_corrected(x, y));
    }
    return m;
}

uint32_t Bits(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Counts the values that differ from the plain ones in any bit, keeping the first.
class Mismatches {
public:
    void Check(float got, float want, int32_t x, int32_t y)
    {
        if (Bits(got) == Bits(want)) return;
        if (count_++ == 0) {
            first_ = "(" + std::to_string(x) + ", " + std::to_string(y) + "): " +
                     Text(got) + " instead of " + Text(want);
        }
    }
    int count() const { return count_; }
    const std::string& first() const { return first_; }

private:
    static std::string Text(float v)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", double{v});
        return text;
    }
    int count_ = 0;
    std::string first_;
};

// Builds small frames and the run state that the corrected picture reads.
class FrameMaker {
protected:
    void Start(uint64_t seed)
    {
        Reset_run_parameters();
        random_.seed(seed);
        hsize = 70;   // not a whole number of vector lanes
        vsize = 46;
        resolution = 65535;
        correction = 0.0f;
        value.assign(size_t(hsize) * vsize, 0);
        value_bckg.clear();
        zero_level_R = zero_level_B = zero_level_R_bckg = zero_level_B_bckg = 0.0f;
        zero_level_G = Uniform(50.0, 150.0);
        zero_level_G_bckg = Uniform(20.0, 80.0);
        zero_level = Uniform(50.0, 150.0);

        // The image centre inside the frame, the image circle short of the far corner.
        xcentre = static_cast<int32_t>(Uniform(0.0, hsize));
        ycentre = static_cast<int32_t>(Uniform(0.0, vsize));
        const double corner = std::hypot(std::max(xcentre, hsize - 1 - xcentre),
                                         std::max(ycentre, vsize - 1 - ycentre));
        rmax = static_cast<int32_t>(corner * Uniform(0.6, 0.85));

        // A slanted beam from row 6 to row 37, its marker lines partly off the frame;
        // the rows above and below carry the markers of rows off the path.
        laserpath = {{static_cast<int32_t>(Uniform(10.0, 60.0)), 6},
                     {static_cast<int32_t>(Uniform(10.0, 60.0)), 37}};
        pathwidth = static_cast<int32_t>(Uniform(1.0, 6.0));
        sidescale = static_cast<int32_t>(Uniform(1.0, 4.0));
    }
    float Uniform(double low, double high)
    {
        return static_cast<float>(std::uniform_real_distribution<double>(low, high)(random_));
    }
    void Fill(ImagePlane& plane, int low, int high)
    {
        plane.resize(size_t(hsize) * vsize);
        std::uniform_int_distribution<int> sample(low, high);
        for (size_t i = 0; i < plane.size(); ++i) plane.set(i, static_cast<uint16_t>(sample(random_)));
    }
    // Sets both green samples of the cell that holds (x, y).
    void Green(ImagePlane& plane, int32_t x, int32_t y, uint16_t level)
    {
        const int32_t x0 = x - x % 2, y0 = y - y % 2;
        plane.set(size_t(y0) * hsize + x0 + 1, level);
        plane.set(size_t(y0 + 1) * hsize + x0, level);
    }

    std::mt19937_64 random_;
};

struct FrameCase {
    const char* name;
    uint64_t seed;
    bool dark;           // a dark picture, or the empty plane of NODARK
    float correction;    // the high-level limit, 0 for none
    bool bright_marker;  // markers above every pixel (maxvalue 65535)
};
void PrintTo(const FrameCase& c, std::ostream* out) { *out << c.name; }

// A random laser picture and dark picture: net levels from below 0 to about 12000.
class RandomFrame : public FrameMaker, public ::testing::TestWithParam<FrameCase> {
protected:
    void SetUp() override
    {
        const FrameCase& c = GetParam();
        Start(c.seed);
        Fill(value, 0, 12000);
        if (c.dark) Fill(value_bckg, 0, 3000);
        correction = c.correction;
        uint16_t highest = 0;
        for (size_t i = 0; i < value.size(); ++i) highest = std::max(highest, value[i]);
        maxvalue = c.bright_marker ? 65535.0f : highest;
    }
};

INSTANTIATE_TEST_SUITE_P(Frames, RandomFrame,
                         ::testing::Values(FrameCase{"DarkPicture", 1, true, 0.0f, false},
                                           FrameCase{"NoDarkPicture", 2, false, 0.0f, false},
                                           FrameCase{"HighLevelLimit", 3, true, 9000.5f, false},
                                           FrameCase{"BrightMarkers", 4, true, 0.0f, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(RandomFrame, ReachesEveryBranchOfTheLensModel)
{
    // Guards the cases' geometry: angles beyond 90 degrees, sensitivities near the
    // lowest, net levels below 0.
    int beyond = 0, low = 0, negative = 0;
    for (int32_t y = 0; y < vsize; ++y) {
        for (int32_t x = 0; x < hsize; ++x) {
            const float theta = R2thetadeg(Plain_radius(x, y));
            beyond += theta > 90.0f;
            low += theta <= 90.0f && Sensitivity(theta) < 0.7f;
            negative += Plain_net_green(x, y) < 0.0f;
        }
    }
    EXPECT_GT(beyond, 50);
    EXPECT_GT(low, 10);
    EXPECT_GT(negative, 0);
}

TEST_P(RandomFrame, NetGreensAreTheCellReadingsForAnyColumns)
{
    std::vector<std::pair<int32_t, int32_t>> ranges = {
        {0, hsize}, {0, 0}, {1, 1}, {1, 2}, {2, 3}, {1, hsize}, {0, hsize - 1}, {hsize - 1, hsize}};
    std::uniform_int_distribution<int32_t> column(0, hsize);
    for (int i = 0; i < 40; ++i) {
        const int32_t a = column(random_), b = column(random_);
        ranges.emplace_back(std::min(a, b), std::max(a, b));
    }
    const float guard = -1234.5f;
    Mismatches mismatches;
    for (int32_t y = 0; y < vsize; ++y) {
        for (const auto& [from, to] : ranges) {
            std::vector<float> green(size_t(to - from) + 2, guard);
            Net_greens(y, from, to, green.data() + 1);
            mismatches.Check(green.front(), guard, from - 1, y);
            mismatches.Check(green.back(), guard, to, y);
            for (int32_t x = from; x < to; ++x) {
                mismatches.Check(green[size_t(x - from) + 1], Plain_net_green(x, y), x, y);
            }
        }
    }
    EXPECT_EQ(mismatches.count(), 0) << "first at " << mismatches.first();
}

TEST_P(RandomFrame, CorrectedRowsFollowTheFormulasPixelByPixel)
{
    Corrected_rows corrected;
    // Bottom to top, then a few rows again: each row alone, the cell's other row after it.
    std::vector<int32_t> rows;
    for (int32_t y = vsize - 1; y >= 0; --y) rows.push_back(y);
    for (const int32_t y : {7, 30, 31, 0}) rows.push_back(y);
    std::vector<float> row(static_cast<size_t>(hsize));
    Mismatches mismatches;
    for (const int32_t y : rows) {
        corrected.Compute(y, row.data());
        for (int32_t x = 0; x < hsize; ++x) mismatches.Check(row[x], Plain_corrected(x, y), x, y);
    }
    EXPECT_EQ(mismatches.count(), 0) << "first at " << mismatches.first();
}

TEST_P(RandomFrame, NetGreenBoundOfEachCellRowLiesJustAboveItsLargestLevel)
{
    std::vector<float> green(static_cast<size_t>(hsize));
    int above = 0;
    for (int32_t y = 0; y < vsize; ++y) {
        Net_greens(y, 0, hsize, green.data());
        const float largest = *std::max_element(green.begin(), green.end());
        const float bound = Largest_net_green_bound(y);
        above += bound > largest + 0.02f || bound < largest;
    }
    EXPECT_EQ(above, 0);
}

TEST_P(RandomFrame, LargestValueIsTheLargestOfAllPixels)
{
    Corrected_rows corrected;
    EXPECT_EQ(Bits(Largest_value(corrected)), Bits(Plain_largest_value()));
}

TEST_P(RandomFrame, PictureBytesAreThePlainValuesScaledToFullRange)
{
    const std::string folder = scene::Make_folder();
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    const bool written = !Write_corrected_PGM();
    const std::string bytes = scene::Read_file("linearlyscaledG.PGM");
    ASSERT_EQ(chdir(previous), 0);
    scene::Remove_folder(folder);
    ASSERT_TRUE(written);

    const std::string header = "P5\n70 46\n65535\n";
    ASSERT_EQ(bytes.size(), header.size() + 2 * size_t(hsize) * vsize);
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    const double m = Plain_largest_value();
    ASSERT_GT(m, 0.0);
    int wrong = 0;
    std::string first;
    for (int32_t y = 0; y < vsize; ++y) {
        for (int32_t x = 0; x < hsize; ++x) {
            const float s = static_cast<float>(Plain_corrected(x, y) / m * resolution);
            const int n = s < 0.0f ? 0 : static_cast<int>(std::min(s, float(resolution)));
            const size_t at = header.size() + 2 * (size_t(y) * hsize + x);
            const int sample = static_cast<unsigned char>(bytes[at]) << 8 |
                               static_cast<unsigned char>(bytes[at + 1]);
            if (sample != n && wrong++ == 0) {
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + "): " +
                        std::to_string(sample) + " instead of " + std::to_string(n);
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "first at " << first;
}

// The search for the largest value skips the cell rows whose bound can't beat the
// largest value found; it must find the plain largest value whether it skips most
// rows, none, or stops at a row whose bound only just beats a marker.
class Pruning : public FrameMaker, public ::testing::Test {
protected:
    // Cell rows whose bound doesn't exceed the plain largest value: those that the
    // search may skip.
    int Rows_that_may_be_skipped()
    {
        const Corrected_rows corrected;
        const float m = Plain_largest_value();
        int skipped = 0;
        for (int32_t y = 0; y < vsize; y += 2) {
            float brightest = -std::numeric_limits<float>::infinity();
            for (int32_t x = 0; x < hsize; ++x) brightest = std::max(brightest, Plain_net_green(x, y));
            skipped += corrected.Bound(brightest) <= m;
        }
        return skipped;
    }
    void Expect_plain_largest_value()
    {
        Corrected_rows corrected;
        EXPECT_EQ(Bits(Largest_value(corrected)), Bits(Plain_largest_value()));
    }
};

TEST_F(Pruning, OneBrightCellRowLetsTheSearchSkipTheOthers)
{
    for (uint64_t seed : {11, 12, 13}) {
        Start(seed);
        Fill(value, 0, 2000);
        Fill(value_bckg, 0, 500);
        maxvalue = 2000.0f;   // markers below the bright row
        const int32_t bright = 2 * static_cast<int32_t>(Uniform(0.0, vsize / 2));
        for (int32_t x = 0; x < hsize; x += 2) {
            Green(value, x, bright, static_cast<uint16_t>(Uniform(8000.0, 12000.0)));
        }
        ASSERT_EQ(Rows_that_may_be_skipped(), vsize / 2 - 1) << "seed " << seed;
        Expect_plain_largest_value();
    }
}

TEST_F(Pruning, EvenSkyLetsTheSearchSkipNoRow)
{
    for (uint64_t seed : {21, 22, 23}) {
        Start(seed);
        value.assign(value.size(), 5000);
        maxvalue = 5000.0f;
        zero_level = 3000.0f;   // markers below the sky
        // Every cell row has the same bound, above every value unless a pixel lies
        // where the sensitivity is at its lowest.
        ASSERT_EQ(Rows_that_may_be_skipped(), 0) << "seed " << seed;
        Expect_plain_largest_value();
    }
}

TEST_F(Pruning, BoundIsTightForAPixelAtNinetyDegrees)
{
    // Find an image circle and a pixel offset whose zenith angle gives the lowest
    // sensitivity, that at 90 degrees.
    Start(31);
    const float lowest = Sensitivity(90.0f);
    int32_t dx = -1, dy = -1;
    for (int32_t circle = 40; circle < 20000 && dx < 0; ++circle) {
        rmax = circle;
        double r_low = 0.0, r90 = 2.0 * circle;   // R2thetadeg(r90) reaches 90 degrees
        for (int i = 0; i < 40; ++i) {
            const double r = (r_low + r90) / 2;
            (R2thetadeg(float(r)) < 90.0f ? r_low : r90) = r;
        }
        for (int32_t b = 0; b < vsize && b < r90 && dx < 0; ++b) {
            const int32_t a0 = static_cast<int32_t>(std::sqrt(r90 * r90 - static_cast<double>(b) * b));
            for (int32_t a = a0 - 2; a <= a0 + 2; ++a) {
                xcentre = 0;
                ycentre = 0;
                if (Sensitivity(R2thetadeg(Plain_radius(a, b))) == lowest) {
                    dx = a;
                    dy = b;
                }
            }
        }
    }
    ASSERT_GE(dx, 0) << "no pixel at 90 degrees found";

    // The pixel at (35, 23) with a net level whose quotient by the lowest sensitivity
    // changes when the sensitivity is one unit in the last place higher; everything
    // else dark, and the markers just below the pixel's value.
    const int32_t x = 35, y = 23;
    xcentre = x - dx;
    ycentre = y - dy;
    zero_level_G = zero_level_G_bckg = 0.0f;
    laserpath = {{60, 0}, {60, vsize - 1}};
    pathwidth = 2;
    sidescale = 1;
    const float above = std::nextafter(lowest, 1.0f);
    uint16_t level = 1000;
    while (float(level) / above == float(level) / lowest) ++level;
    Green(value, x, y, level);
    const float pixel = float(level) / lowest;
    ASSERT_EQ(Bits(Plain_corrected(x, y)), Bits(pixel));
    maxvalue = std::nextafter(pixel, 0.0f);
    zero_level = 0.0f;

    Corrected_rows corrected;
    EXPECT_EQ(Bits(corrected.Bound(float(level))), Bits(pixel));
    EXPECT_EQ(Bits(Largest_value(corrected)), Bits(pixel));
}

}  // namespace
