// The row uncertainties: the median's variance factor, the robust spreads and the
// photon-transfer fit against direct computations, and on a small synthetic frame
// the predicted sigmas against the spread of the tool's own measurements over many
// noise draws; the sat, edge and weak flags and "beam found".
#include <cmath>
#include <iostream>
#include <random>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

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
#include "products/data_table.h"
#include "measure/uncertainty.h"

namespace {

// Variance of the element at index K / 2 of the sorted list, by drawing.
double Drawn_median_variance(const std::vector<int32_t>& multiplicities, int draws)
{
    std::mt19937_64 random(7);
    std::normal_distribution<double> normal;
    double sum = 0.0, squares = 0.0;
    std::vector<double> list;
    for (int d = 0; d < draws; ++d) {
        list.clear();
        for (const int32_t k : multiplicities) list.insert(list.end(), size_t(k), normal(random));
        std::nth_element(list.begin(), list.begin() + long(list.size() / 2), list.end());
        const double m = list[list.size() / 2];
        sum += m;
        squares += m * m;
    }
    const double mean = sum / draws;
    return squares / draws - mean * mean;
}

TEST(MedianVarianceFactor, MatchesTheSpreadOfDrawnMedians)
{
    EXPECT_EQ(Median_variance_factor({1}), 1.0);
    EXPECT_EQ(Median_variance_factor({4}), 1.0);
    EXPECT_NEAR(Median_variance_factor({1, 1, 1}), 0.4487, 0.001);   // the tabulated value
    const std::vector<std::vector<int32_t>> cases = {
        {2, 2, 2, 2, 2, 2, 2, 2},                 // side bands of whole cells
        {1, 2, 2, 2, 2, 2, 2, 2, 1},              // cells cut by the bands' ends
        {1, 1, 1, 1},                             // an even count: the upper middle one
        {3, 1, 1, 1, 1},                          // a window clamped at the path's end
        std::vector<int32_t>(40, 2)};
    for (const auto& multiplicities : cases) {
        const double drawn = Drawn_median_variance(multiplicities, 200000);
        EXPECT_NEAR(Median_variance_factor(multiplicities) / drawn, 1.0, 0.015)
            << multiplicities.size() << " values, first multiplicity " << multiplicities[0];
    }
    // Beyond the exact range, the large-sample form.
    EXPECT_DOUBLE_EQ(Median_variance_factor(std::vector<int32_t>(100, 2)), M_PI / 200.0);
}

// A small frame whose beam band and side bands lie in a sky of known level, with the
// lens's sensitivity varying across the band. The covered pixels (rows 0 to 43,
// columns 0 to 119) see read noise only.
class NoisyFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset_run_parameters();
        pathwidth = 5;
        sidescale = 2;
        median = 4;
        xcentre = 150;
        ycentre = 60;   // the scattering angle passes 90 degrees at row 60
        rmax = 500;
        zero_level_R = zero_level_G = zero_level_B = black;
        zero_level_R_bckg = zero_level_G_bckg = zero_level_B_bckg = 0.0f;
        hsize = 720;
        vsize = 80;
        resolution = 65535;
        value.assign(size_t(hsize) * vsize, 0);
        value_bckg.clear();
        saved_ = std::cout.rdbuf(console_.rdbuf());
    }
    void TearDown() override { std::cout.rdbuf(saved_); }

    void Path(int32_t x)
    {
        laserpath = {{x, 50}, {x, 71}};   // processed rows 50, 52, ... 70
    }
    // Light of a sample above black: sky in the frame's lower part, and the beam of
    // `beam` DN per sample on the beam column's cell pair and its neighbours.
    double Light(int32_t x, int32_t y) const
    {
        if (y < 44 || x < 120) return 0.0;   // the covered pixels
        const double S = Sensitivity(R2thetadeg(Pixel_radius(x, y)));
        const double beam_light = std::abs(x - beam_x) <= 3 ? beam : 0.0;
        return (sky + beam_light) * S;
    }
    void Draw(std::mt19937_64& random)
    {
        std::normal_distribution<double> normal;
        for (int32_t y = 0; y < vsize; ++y) {
            for (int32_t x = 0; x < hsize; ++x) {
                const double light = Light(x, y);
                const double level = black + light + std::sqrt(read * read + gain * light) * normal(random);
                value.set(size_t(y) * hsize + x,
                          static_cast<uint16_t>(std::clamp(std::floor(level + 0.5), 0.0, 65535.0)));
            }
        }
        uint16_t highest = 0;
        for (size_t i = 0; i < value.size(); ++i) highest = std::max(highest, value[i]);
        maxvalue = static_cast<float>(highest);
    }

    static constexpr float black = 1000.0f;
    double read = 5.0, gain = 2.0, sky = 150.0, beam = 400.0;
    int32_t beam_x = 500;
    std::ostringstream console_;

private:
    std::streambuf* saved_ = nullptr;
};

// Sample variance of the columns of `draws` (one row of values per draw).
std::vector<double> Column_variance(const std::vector<std::vector<double>>& draws)
{
    std::vector<double> variance(draws[0].size(), 0.0);
    for (size_t i = 0; i < variance.size(); ++i) {
        double sum = 0.0, squares = 0.0;
        for (const auto& d : draws) {
            sum += d[i];
            squares += d[i] * d[i];
        }
        const double n = double(draws.size());
        variance[i] = (squares - sum * sum / n) / (n - 1.0);
    }
    return variance;
}

TEST_F(NoisyFrame, PredictedSigmasMatchTheSpreadOfTheMeasurementsOverDraws)
{
    Path(beam_x);
    std::mt19937_64 random(3);
    std::vector<std::vector<double>> net, background, signal, running;
    std::vector<double> predicted_net(11, 0.0), predicted_background(11, 0.0),
        predicted_signal(11, 0.0), predicted_running(11, 0.0);
    std::vector<double> gains;
    const int draws = 400;
    for (int d = 0; d < draws; ++d) {
        Draw(random);
        int32_t row90;
        const float C = Compute_beam_signal(row90);
        ASSERT_EQ(row90, 60);
        Measure_uncertainties(C, row90, not_given, 65535.0);
        ASSERT_EQ(row_uncertainty.size(), 11u);
        gains.push_back(frame_gain);
        std::vector<double> n, b, s, m;
        const std::vector<float> medians = Running_medians();
        for (size_t k = 0; k < 11; ++k) {
            const RowUncertainty& row = row_uncertainty[k];
            n.push_back(row.net);
            b.push_back(row.background);
            s.push_back(row.net / double{C});
            m.push_back(medians[k] / double{C});
            predicted_net[k] += row.sigma_net * row.sigma_net / draws;
            predicted_background[k] += row.sigma_background * row.sigma_background / draws;
            predicted_signal[k] += row.sigma_signal * row.sigma_signal / draws;
            predicted_running[k] += row.sigma_median * row.sigma_median / draws;
            EXPECT_FALSE(row.sat || row.edge) << "row " << row.y;
        }
        net.push_back(n);
        background.push_back(b);
        signal.push_back(s);
        running.push_back(m);
    }
    // Pooled over the rows: 11 x 400 draws give the variances of the net signal to
    // about 2 per cent (the running medians overlap, so theirs less well).
    const auto ratio = [](const std::vector<double>& observed, const std::vector<double>& predicted) {
        double o = 0.0, p = 0.0;
        for (size_t k = 0; k < observed.size(); ++k) {
            o += observed[k];
            p += predicted[k];
        }
        return o / p;
    };
    std::cerr << "observed / predicted variance: net " << ratio(Column_variance(net), predicted_net)
              << ", background " << ratio(Column_variance(background), predicted_background)
              << ", signal " << ratio(Column_variance(signal), predicted_signal) << ", running median "
              << ratio(Column_variance(running), predicted_running) << std::endl;
    EXPECT_NEAR(ratio(Column_variance(net), predicted_net), 1.0, 0.07);
    EXPECT_NEAR(ratio(Column_variance(background), predicted_background), 1.0, 0.08);
    EXPECT_NEAR(ratio(Column_variance(signal), predicted_signal), 1.0, 0.1);
    EXPECT_NEAR(ratio(Column_variance(running), predicted_running), 1.0, 0.12);
    double mean_gain = 0.0;
    for (const double g : gains) mean_gain += g / draws;
    EXPECT_NEAR(mean_gain, gain, 0.1 * gain);
    std::cerr << "mean gain " << mean_gain << " a " << cell_read_variance << std::endl;
}

TEST_F(NoisyFrame, SaturatedBandSamplesFlagTheirRowAndAPathBesideTheBeamFindsNoBeam)
{
    std::mt19937_64 random(5);
    Draw(random);
    // Two green samples of band cells at the clip on row 60.
    value.set(size_t(60) * hsize + 501, 65000);
    value.set(size_t(61) * hsize + 498, 65000);
    maxvalue = 65000.0f;
    Path(beam_x);
    int32_t row90;
    float C = Compute_beam_signal(row90);
    Measure_uncertainties(C, row90);
    EXPECT_EQ(clip_level, 65000.0);
    for (const RowUncertainty& row : row_uncertainty) {
        EXPECT_EQ(row.sat, row.y == 60) << "row " << row.y;
        EXPECT_FALSE(row.weak) << "row " << row.y;
    }
    EXPECT_TRUE(beam_found);
    EXPECT_STREQ(Flags_text(row_uncertainty[5]), "sat");
    EXPECT_STREQ(Flags_text(row_uncertainty[4]), "-");
    EXPECT_EQ(row_uncertainty[5].peak, 65000.0f);   // the band's highest green sample
    EXPECT_LT(row_uncertainty[4].peak, 2000.0f);
    // Two samples sharing the highest level may be a smooth tail's; three with none
    // just below them pile up: the white level.
    EXPECT_FALSE(clip_piled_up);
    value.set(size_t(20) * hsize + 30, 65000);
    Measure_uncertainties(C, row90);
    EXPECT_TRUE(clip_piled_up);
    value.set(size_t(21) * hsize + 30, 64999);
    value.set(size_t(22) * hsize + 30, 64999);
    Measure_uncertainties(C, row90);
    EXPECT_FALSE(clip_piled_up);   // as many as twice a level just below: no pile-up
    for (const int32_t y : {20, 21, 22}) value.set(size_t(y) * hsize + 30, 1000);

    value.set(size_t(61) * hsize + 498, 1000);   // one pixel at the highest level: no clip
    Measure_uncertainties(C, row90);
    EXPECT_TRUE(std::isinf(clip_level));
    for (const RowUncertainty& row : row_uncertainty) EXPECT_FALSE(row.sat);
    Measure_uncertainties(C, row90, not_given, 1400.0);   // an imposed clip level, below the beam's samples
    for (const RowUncertainty& row : row_uncertainty) EXPECT_TRUE(row.sat) << "row " << row.y;
    EXPECT_TRUE(clip_piled_up);

    // 400 pixels beside the beam: sky alone.
    Path(beam_x - 400);
    C = Compute_beam_signal(row90);
    Measure_uncertainties(C, row90);
    int weak = 0;
    for (const RowUncertainty& row : row_uncertainty) weak += row.weak ? 1 : 0;
    EXPECT_GE(weak, 9);
    EXPECT_FALSE(beam_found);
}

TEST_F(NoisyFrame, BandPixelsOutsideTheImageCircleFlagEdgeAndAnImposedGainIsUsed)
{
    ycentre = 200;
    std::mt19937_64 random(9);
    Draw(random);
    Path(beam_x);
    rmax = 381;   // from row 62 on the band lies within the circle
    int32_t row90;
    const float C = Compute_beam_signal(row90);
    Measure_uncertainties(C, row90, 5.0);
    EXPECT_EQ(frame_gain, 5.0);
    EXPECT_FALSE(frame_gain_estimated);
    for (const RowUncertainty& row : row_uncertainty) {
        bool outside = false;
        for (int32_t c = row.x - pathwidth; c <= row.x + pathwidth; ++c) {
            outside = outside || Pixel_radius(c, row.y) > 381.0f;
        }
        EXPECT_EQ(row.edge, outside) << "row " << row.y;
    }
    EXPECT_TRUE(row_uncertainty.front().edge);
    EXPECT_FALSE(row_uncertainty.back().edge);
}

}  // namespace

TEST_F(NoisyFrame, GainReadNoiseAndTheDarksShareFromTheTwoGreensOfEachCell)
{
    // A dark picture of read noise 8 DN, and hot pixels in both pictures: the gain,
    // the read noise of laser and dark together, and the dark's own share.
    Path(beam_x);
    std::mt19937_64 random(5);
    std::normal_distribution<double> normal;
    const double dark_read = 8.0;
    double gain_sum = 0.0, read_sum = 0.0, dark_sum = 0.0;
    const int draws = 20;
    for (int d = 0; d < draws; ++d) {
        Draw(random);
        value_bckg.assign(value.size(), 0);
        for (size_t i = 0; i < value.size(); ++i) {
            value_bckg.set(i, static_cast<uint16_t>(std::floor(black + dark_read * normal(random) + 0.5)));
        }
        for (size_t i = 7; i < value.size(); i += 10007) {   // hot in both pictures
            value.set(i, uint16_t(value[i] + 3000));
            value_bckg.set(i, uint16_t(value_bckg[i] + 3000));
        }
        const SensorNoise noise = Measure_sensor_noise(not_given);
        ASSERT_TRUE(noise.gain_fitted);
        EXPECT_GT(noise.gain_sigma, 0.0);
        gain_sum += noise.gain / draws;
        read_sum += noise.read_variance / draws;
        dark_sum += noise.dark_read_variance / draws;
    }
    // Samples are whole numbers: each picture's rounding adds 1/12 DN^2.
    EXPECT_NEAR(gain_sum / gain, 1.0, 0.05);
    EXPECT_NEAR(read_sum / (read * read + dark_read * dark_read + 2.0 / 12.0), 1.0, 0.05);
    EXPECT_NEAR(dark_sum / (dark_read * dark_read + 1.0 / 12.0), 1.0, 0.05);
    // With the gain imposed, only the read noise is fitted.
    const SensorNoise imposed = Measure_sensor_noise(3.0);
    EXPECT_EQ(imposed.gain, 3.0);
    EXPECT_FALSE(imposed.gain_fitted);
}
