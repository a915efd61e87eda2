// The night's combining on small worked data: the master dark's per-pixel median,
// the night profile, the frame record's JSON round trip, the file facts, and a
// product folder other than the working folder.
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

#include "base/console.h"
#include "night/night_frame.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pictures.h"
#include "measure/beam_table.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/levels.h"
#include "measure/beam_signal.h"
#include "products/data_table.h"
#include "night/master_dark.h"
#include "night/night_profile.h"
#include "night/night_record.h"
#include "night/night_times.h"
#include "night/quicklook.h"
#include "products/corrected_pgm.h"
#include "base/product_file.h"
#include "support/scene_files.h"

namespace {

// The samples of a 16-bit PGM after checking its header.
std::vector<uint16_t> Pgm_samples(const std::string& path, int32_t width, int32_t height)
{
    const std::string bytes = scene::Read_file(path);
    const std::string header =
        "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n65535\n";
    EXPECT_EQ(bytes.compare(0, header.size(), header), 0);
    EXPECT_EQ(bytes.size(), header.size() + 2 * size_t(width) * height);
    std::vector<uint16_t> samples;
    for (size_t i = header.size(); i + 1 < bytes.size(); i += 2) {
        samples.push_back(static_cast<uint16_t>(static_cast<unsigned char>(bytes[i]) << 8 |
                                                static_cast<unsigned char>(bytes[i + 1])));
    }
    return samples;
}

// The run state of a small frame of 64 x 40 samples, all 0, no dark, dark levels 0,
// a lens without fall-off and a band half width of 2.
void Use_small_frame()
{
    Reset_run_parameters();
    rmax = 1 << 30;   // sensitivity 1 everywhere
    hsize = 64;
    vsize = 40;
    resolution = 65535;
    value.assign(size_t(hsize) * vsize, 0);
    value_bckg.clear();
    zero_level_R = zero_level_G = zero_level_B = 0.0f;
    pathwidth = 2;
}

TEST(MasterDark, MedianOfSamplesTakesTheUpperMiddleOfAnEvenCount)
{
    // Per pixel: {3, 1, 2} -> 2; {0, 65535, 7} -> 7. Then four samples {4, 1, 3, 2} -> 3
    // (index 2 of 1 2 3 4), and {9, 9, 0, 0} -> 9.
    const std::vector<uint16_t> a = {3, 0}, b = {1, 65535}, c = {2, 7};
    std::vector<uint16_t> median(2);
    Median_of_samples({a.data(), b.data(), c.data()}, 2, median.data());
    EXPECT_EQ(median, (std::vector<uint16_t>{2, 7}));

    const std::vector<uint16_t> p = {4, 9}, q = {1, 9}, r = {3, 0}, s = {2, 0};
    Median_of_samples({p.data(), q.data(), r.data(), s.data()}, 2, median.data());
    EXPECT_EQ(median, (std::vector<uint16_t>{3, 9}));

    Median_of_samples({c.data()}, 2, median.data());   // one dark is itself
    EXPECT_EQ(median, c);
}

TEST(MasterDark, BlocksOfRowsGiveThePerPixelMedianOfTheWholePictures)
{
    const std::string folder = scene::Make_folder();
    const int32_t width = 10, height = 7;   // 7 rows: blocks of 3 leave a last block of 1
    std::mt19937 random(5);
    std::vector<std::vector<uint16_t>> darks(4, std::vector<uint16_t>(size_t(width) * height));
    std::vector<std::string> names;
    for (size_t d = 0; d < darks.size(); ++d) {
        for (uint16_t& sample : darks[d]) sample = static_cast<uint16_t>(random() % 65536);
        names.push_back(folder + "/dark" + std::to_string(d) + ".pgm");
        scene::Write_pgm(names.back(), width, height,
                         [&](int32_t x, int32_t y) { return darks[d][size_t(y) * width + x]; });
    }
    for (const size_t count : {size_t{2}, size_t{3}, size_t{4}}) {
        const std::vector<std::string> used(names.begin(), names.begin() + ptrdiff_t(count));
        const std::string master = folder + "/master.pgm";
        ASSERT_EQ(Write_master_dark(used, master, 3).reason, "");
        const std::vector<uint16_t> samples = Pgm_samples(master, width, height);
        ASSERT_EQ(samples.size(), size_t(width) * height);
        for (size_t i = 0; i < samples.size(); ++i) {
            std::vector<uint16_t> pixel;
            for (size_t d = 0; d < count; ++d) pixel.push_back(darks[d][i]);
            std::sort(pixel.begin(), pixel.end());
            ASSERT_EQ(samples[i], pixel[count / 2]) << count << " darks, sample " << i;
        }
    }
    scene::Remove_folder(folder);
}

TEST(MasterDark, DarksThatCantBeCombinedAreNamedAndLeaveNoMasterDark)
{
    const std::string folder = scene::Make_folder();
    auto flat = [](int32_t, int32_t) { return uint16_t{100}; };
    scene::Write_pgm(folder + "/a.pgm", 6, 4, flat);
    scene::Write_pgm(folder + "/wide.pgm", 8, 4, flat);
    scene::Write_file(folder + "/eight.pgm", "P5\n6 4\n255\n" + std::string(24, 'x'));
    const std::string full = scene::Read_file(folder + "/a.pgm");
    scene::Write_file(folder + "/cut.pgm", full.substr(0, full.size() - 3));
    scene::Write_file(folder + "/text.pgm", "P2\n6 4\n65535\n1 2 3\n");

    const struct {
        const char* other;
        const char* expected;
    } cases[] = {
        {"wide.pgm", "is 8 x 4, but"},
        {"eight.pgm", "maximum value of 255"},
        {"cut.pgm", "ends before its 24 samples"},
        {"text.pgm", "is neither a binary PGM (P5) nor a raw file"},
        {"missing.pgm", "Can't open picture file"},
    };
    const std::string master = folder + "/master.pgm";
    for (const auto& entry : cases) {
        const std::string failure =
            Write_master_dark({folder + "/a.pgm", folder + "/" + entry.other}, master).reason;
        EXPECT_NE(failure.find(entry.expected), std::string::npos) << failure;
        EXPECT_NE(failure.find(entry.other), std::string::npos) << failure;
        struct stat status;
        EXPECT_NE(stat(master.c_str(), &status), 0) << entry.other;
    }
    scene::Remove_folder(folder);
}

// A measured frame whose rows have the given signals on rows 10, 12, ...
FrameRecord Measured(const std::vector<float>& signals)
{
    FrameRecord record;
    record.measured = true;
    for (size_t k = 0; k < signals.size(); ++k) {
        TableRow row{};
        row.x = 100 + int32_t(k);
        row.y = 10 + 2 * int32_t(k);
        row.height = 5.0f * float(k);
        row.alpha = 90.0f + float(k);
        row.signal = signals[k];
        record.rows.push_back(row);
    }
    return record;
}

TEST(NightProfile, MeanStandardErrorAndMedianPerRowOverTheMeasuredFrames)
{
    FrameRecord failed;
    failed.code = 2;
    const std::vector<FrameRecord> frames = {Measured({1.0f, 4.0f}), failed,
                                             Measured({2.0f, 4.0f}), Measured({6.0f, 1.0f}),
                                             Measured({3.0f, 7.0f})};
    const std::vector<ProfileRow> profile = Combine_profile(frames);
    ASSERT_EQ(profile.size(), 2u);
    // Row 10: 1 2 6 3 -> mean 3, sample variance (4 + 1 + 9 + 0) / 3, median (index 2) 3.
    EXPECT_EQ(profile[0].y, 10);
    EXPECT_EQ(profile[0].x, 100);
    EXPECT_EQ(profile[0].frames, 4);
    EXPECT_DOUBLE_EQ(profile[0].mean, 3.0);
    EXPECT_DOUBLE_EQ(profile[0].sem, std::sqrt(14.0 / 3.0) / 2.0);
    EXPECT_EQ(profile[0].median, 3.0f);
    // Row 12: 4 4 1 7 -> mean 4, variance 18 / 3, median (index 2 of 1 4 4 7) 4.
    EXPECT_EQ(profile[1].y, 12);
    EXPECT_FLOAT_EQ(profile[1].height, 5.0f);
    EXPECT_DOUBLE_EQ(profile[1].mean, 4.0);
    EXPECT_DOUBLE_EQ(profile[1].sem, std::sqrt(6.0) / 2.0);
    EXPECT_EQ(profile[1].median, 4.0f);
}

TEST(NightProfile, PredictedStandardErrorAndChiSquareFromTheFramesSigmas)
{
    std::vector<FrameRecord> frames = {Measured({1.0f, 5.0f}), Measured({3.0f, 5.0f}),
                                       Measured({2.0f, 8.0f})};
    frames[0].sigma_signal = {1.0, 1.0};
    frames[1].sigma_signal = {1.0, 2.0};
    frames[2].sigma_signal = {2.0, 3.0};
    std::vector<ProfileRow> profile = Combine_profile(frames);
    ASSERT_EQ(profile.size(), 2u);
    // Row 10: 1 3 2 with sigmas 1 1 2 -> mean 2, sqrt(1 + 1 + 4) / 3,
    // chi2 (1 + 1 + 0) / 2.
    EXPECT_DOUBLE_EQ(profile[0].sem_predicted, std::sqrt(6.0) / 3.0);
    EXPECT_DOUBLE_EQ(profile[0].chi2, 1.0);
    // Row 12: 5 5 8 with sigmas 1 2 3 -> mean 6, chi2 (1 + 1/4 + 4/9) / 2.
    EXPECT_DOUBLE_EQ(profile[1].sem_predicted, std::sqrt(14.0) / 3.0);
    EXPECT_DOUBLE_EQ(profile[1].chi2, (1.0 + 0.25 + 4.0 / 9.0) / 2.0);

    frames[1].sigma_signal.pop_back();   // a frame without the row's sigma
    profile = Combine_profile(frames);
    EXPECT_TRUE(std::isnan(profile[1].sem_predicted));
    EXPECT_FALSE(std::isnan(profile[0].sem_predicted));
    profile = Combine_profile({frames[0]});
    EXPECT_DOUBLE_EQ(profile[0].sem_predicted, 1.0);
    EXPECT_TRUE(std::isnan(profile[0].chi2));
}

TEST(NightProfile, OneFrameHasNoStandardErrorAndAMissingRowIsNotCounted)
{
    std::vector<ProfileRow> profile = Combine_profile({Measured({2.5f, 3.0f})});
    ASSERT_EQ(profile.size(), 2u);
    EXPECT_EQ(profile[0].frames, 1);
    EXPECT_EQ(profile[0].median, 2.5f);
    EXPECT_TRUE(std::isnan(profile[0].sem));

    profile = Combine_profile({Measured({2.0f, 3.0f}), Measured({4.0f})});
    ASSERT_EQ(profile.size(), 2u);
    EXPECT_EQ(profile[0].frames, 2);
    EXPECT_EQ(profile[0].median, 4.0f);   // the upper of 2 and 4
    EXPECT_EQ(profile[1].frames, 1);
    EXPECT_DOUBLE_EQ(profile[1].mean, 3.0);

    FrameRecord failed;
    EXPECT_TRUE(Combine_profile({failed}).empty());
}

// A frame whose rows carry their noise: var(net) = a * 1 (no shot noise), the dark's
// share a_dark * 1.
FrameRecord Noisy(const std::vector<float>& nets, double a, double a_dark)
{
    FrameRecord record = Measured(std::vector<float>(nets.size(), 1.0f));
    record.row90 = 14;
    record.gain = std::numeric_limits<double>::quiet_NaN();
    record.gain_estimated = false;
    record.cell_read_variance = a;
    record.dark_cell_read_variance = a_dark;
    for (const float net : nets) {
        RowUncertainty row{};
        row.net = net;
        row.read_part = 1.0;
        row.common_part = 1.0;
        record.row_uncertainty.push_back(row);
    }
    return record;
}

TEST(NightProfile, FramesScaledLeftOutWhereFlaggedOrFarCombinedByTheirErrorsAndNormalisedOnce)
{
    Reset_run_parameters();
    median = 2;   // the 90-degree window: rows 12, 14 and 16
    const std::vector<float> nets = {100.0f, 200.0f, 300.0f, 400.0f, 500.0f};
    std::vector<float> twice;
    for (const float net : nets) twice.push_back(2.0f * net);
    std::vector<FrameRecord> frames = {Noisy(nets, 4.0, 1.0), Noisy(twice, 4.0, 1.0), Noisy(nets, 4.0, 1.0)};
    frames[2].row_uncertainty[1].edge = true;           // row 12 of the third frame: outside the circle
    frames[0].row_uncertainty[4].net = 500.0f + 50.0f;  // row 18 of the first: far beyond 5 sigma
    NightCombination combination;
    const std::vector<ProfileRow> profile = Combine_profile(frames, &combination);
    ASSERT_EQ(profile.size(), 5u);
    ASSERT_EQ(combination.scales.size(), 3u);
    EXPECT_DOUBLE_EQ(combination.scales[1] / combination.scales[0], 2.0);   // twice the laser energy
    for (size_t k = 0; k < nets.size(); ++k) {
        EXPECT_DOUBLE_EQ(profile[k].net, nets[k]) << "row " << k;
        EXPECT_NEAR(profile[k].chi2_net, 0.0, 1e-12);
    }
    // Own variances a - a_dark = 3 per frame, divided by the square of the scale;
    // the dark's share, sigma 1, is common: their weighted mean, not divided by n.
    EXPECT_DOUBLE_EQ(profile[0].sigma_net, 1.0 / std::sqrt(1.0 / 3.0 + 4.0 / 3.0 + 1.0 / 3.0));
    EXPECT_DOUBLE_EQ(profile[0].sigma_net_common, (1.0 / 3.0 + 4.0 / 3.0 * 0.5 + 1.0 / 3.0) / 2.0);
    EXPECT_EQ(profile[0].used, 3);
    EXPECT_EQ(profile[1].used, 2);
    EXPECT_EQ(profile[1].excluded, 1);
    EXPECT_EQ(profile[4].excluded, 1);
    EXPECT_EQ(profile[4].frames, 3);   // frames that measured the row, used or not
    // One normalisation: the median of rows 12 to 16 of the combined profile.
    EXPECT_DOUBLE_EQ(combination.coefficient, 300.0);
    EXPECT_DOUBLE_EQ(profile[2].signal, 1.0);
    EXPECT_DOUBLE_EQ(profile[4].signal, 5.0 / 3.0);
    // Row 12 has two frames: own variance 1 / (1/3 + 4/3), common 0.6^2.
    EXPECT_NEAR(combination.coefficient_sigma,
                std::sqrt(0.4487 * (2.0 * (0.5 + 4.0 / 9.0) + (0.6 + 0.36)) / 3.0), 1e-3);
    EXPECT_GT(profile[4].sigma_signal_total, std::hypot(profile[4].sigma_signal, profile[4].sigma_signal_common));
}

TEST(NightProfile, ARowNearTheClipInAnyFrameIsLeftOutOfEveryFrame)
{
    Reset_run_parameters();
    median = 2;   // the 90-degree window: rows 12, 14 and 16
    const std::vector<float> nets = {100.0f, 200.0f, 300.0f, 400.0f, 500.0f};
    std::vector<FrameRecord> frames = {Noisy(nets, 4.0, 1.0), Noisy(nets, 4.0, 1.0), Noisy(nets, 4.0, 1.0)};
    // The night's clip is the highest of the frames' own where the samples pile up:
    // not the third frame's (two pixels that happened to share its highest level),
    // nor the second's, which has none.
    frames[0].clip_level = 1000.0;
    frames[0].clip_piled_up = true;
    frames[1].clip_level = std::numeric_limits<double>::infinity();
    frames[2].clip_level = 1100.0;
    for (FrameRecord& frame : frames) {
        frame.gain = 2.0;
        frame.has_levels = true;
        frame.levels.zero_level_G = 100.0f;
        for (RowUncertainty& row : frame.row_uncertainty) row.peak = 500.0f;
    }
    // 3 sigma of a sample at the clip: read 2 (a - a_dark) = 6, shot 2 x (1000 - 100).
    const double threshold = 1000.0 - 3.0 * std::sqrt(6.0 + 1800.0);
    frames[1].row_uncertainty[2].peak = float(threshold) + 1.0f;   // row 14, in the frame without a clip
    frames[0].row_uncertainty[3].peak = float(threshold) - 1.0f;   // row 16: short of the margin
    frames[2].row_uncertainty[0].peak = 850.0f;                    // row 10: above the third's own only
    frames[2].row_uncertainty[4].sat = true;                       // row 18: at the clip in one frame
    NightCombination combination;
    const std::vector<ProfileRow> profile = Combine_profile(frames, &combination);
    ASSERT_EQ(profile.size(), 5u);
    EXPECT_EQ(combination.clip_level, 1000.0);
    for (const size_t k : {size_t{2}, size_t{4}}) {
        EXPECT_EQ(profile[k].used, 0) << "row " << k;
        EXPECT_EQ(profile[k].excluded, 3) << "row " << k;
        EXPECT_EQ(profile[k].near_clip, 1) << "row " << k;
        EXPECT_TRUE(std::isnan(profile[k].net) && std::isnan(profile[k].mean)) << "row " << k;
    }
    for (const size_t k : {size_t{0}, size_t{1}, size_t{3}}) {
        EXPECT_EQ(profile[k].used, 3) << "row " << k;
        EXPECT_EQ(profile[k].near_clip, 0) << "row " << k;
        EXPECT_DOUBLE_EQ(profile[k].net, nets[k]) << "row " << k;
    }
    // The coefficient over the window's rows that remain: the upper of 200 and 400.
    EXPECT_DOUBLE_EQ(combination.coefficient, 400.0);

    // Without a white level the rows near a frame's highest level count; a `sat` row
    // is still left out of every frame.
    frames[0].clip_piled_up = false;
    const std::vector<ProfileRow> unknown = Combine_profile(frames, &combination);
    EXPECT_TRUE(std::isinf(combination.clip_level));
    EXPECT_EQ(unknown[2].used, 3);
    EXPECT_EQ(unknown[4].used, 0);
    EXPECT_EQ(unknown[4].near_clip, 1);
}

TEST(NightProfile, TableHasTheHeaderAndOneLinePerRow)
{
    const std::string folder = scene::Make_folder();
    const std::string name = folder + "/night_profile.tsv";
    ASSERT_EQ(Write_night_profile(name, Combine_profile({Measured({1.0f}), Measured({2.0f})})).reason, "");
    EXPECT_EQ(scene::Read_file(name),
              "x(pixel)\ty(pixel)\tr(pixel)\tz.angle(deg)\ts.height(m)\ts.distance(m)\t"
              "s.angle(deg)\tframes\tmean(arb.u.)\tsem(arb.u.)\tsem.predicted(arb.u.)\tchi2/dof\t"
              "median(arb.u.)\tdz(deg)\tbeta.rel(arb.u.)\tsigma.beta.rel(arb.u.)\tbeta.mol.rel(arb.u.)\tratio\t"
              "sigma.ratio\tbeta.fit(arb.u.)\tused\texcluded\tnet(DN)\tsigma.net(DN)\tsigma.net.common(DN)\t"
              "chi2.net/dof\tsignal(arb.u.)\tsigma.signal(arb.u.)\tsigma.signal.common(arb.u.)\t"
              "sigma.signal.total(arb.u.)\tnear.clip\n"
              // Frames without sigmas or their rows' noise, and no scattering function given:
              // the first combination only.
              "100\t10\t0\t0\t0\t0\t90\t2\t1.5\t0.5\tnan\tnan\t2\tnan\tnan\tnan\tnan\tnan\tnan\tnan"
              "\t0\t0\tnan\tnan\tnan\tnan\tnan\tnan\tnan\tnan\t0\n");
    EXPECT_EQ(Write_night_profile(folder, {}).code, exit_product_not_written);   // a folder of that name
    scene::Remove_folder(folder);
}

TEST(NightRecord, FrameRecordSurvivesTheWorkersResultExactlyNotFiniteValuesIncluded)
{
    FrameRecord record = Measured({0.1f, std::numeric_limits<float>::infinity()});
    record.name = "frame_01";
    record.file = "night/frame_01.pgm";
    record.rows[0].theta = std::nextafter(45.0f, 50.0f);
    record.rows[1].median = std::numeric_limits<float>::quiet_NaN();
    record.rows[1].r = -std::numeric_limits<float>::infinity();
    record.has_levels = true;
    record.levels.highest = 65535.0f;
    record.levels.zero_level_G_bckg = 2048.4155f;
    record.has_signal = true;
    record.row90 = 2408;
    record.x90 = 3254;
    record.coefficient = 26009.674f;
    record.has_facts = true;
    record.facts = {54, "2026-01-01T00:00:00.000000000Z", "ab"};
    record.dated.known = true;
    record.dated.time = 1773522180.5;
    record.dated.source = time_from_camera;
    record.dated.has_camera = true;
    record.dated.camera.has_time = true;
    record.dated.camera.time = 1773522150;
    record.dated.camera.iso = 1600.0;
    record.dated.camera.body_serial = "TVR0001";

    FrameRecord back;
    ASSERT_TRUE(Record_from_worker_result(Worker_result(record), back));
    EXPECT_EQ(back.name, record.name);
    EXPECT_TRUE(back.measured);
    EXPECT_EQ(back.facts.sha256, "ab");
    EXPECT_EQ(back.facts.size, 54u);
    EXPECT_EQ(back.dated.time, 1773522180.5);
    EXPECT_EQ(back.dated.source, "camera");
    EXPECT_EQ(back.dated.camera.time, 1773522150);
    EXPECT_EQ(back.dated.camera.iso, 1600.0);
    EXPECT_EQ(back.dated.camera.exposure, 0.0);
    EXPECT_EQ(back.dated.camera.body_serial, "TVR0001");
    EXPECT_EQ(back.levels.highest, 65535.0f);
    EXPECT_EQ(back.levels.zero_level_G_bckg, record.levels.zero_level_G_bckg);
    EXPECT_EQ(back.coefficient, record.coefficient);
    EXPECT_EQ(back.row90, 2408);
    EXPECT_EQ(back.x90, 3254);
    ASSERT_EQ(back.rows.size(), 2u);
    EXPECT_EQ(back.rows[0].signal, 0.1f);
    EXPECT_EQ(back.rows[0].theta, record.rows[0].theta);
    EXPECT_EQ(back.rows[1].y, 12);
    EXPECT_TRUE(std::isinf(back.rows[1].signal) && back.rows[1].signal > 0);
    EXPECT_TRUE(std::isinf(back.rows[1].r) && back.rows[1].r < 0);
    EXPECT_TRUE(std::isnan(back.rows[1].median));

    EXPECT_FALSE(back.has_uncertainty);

    // The uncertainties: gain (none when the frame gave none), beam found, and the
    // rows' sigmas with the rows only.
    record.has_uncertainty = true;
    record.gain = std::nan("");
    record.beam_found = false;
    record.sigma_signal = {0.25, 0.5};
    record.clip_level = 15000.0;
    record.clip_piled_up = true;
    record.row_uncertainty.resize(2);
    record.row_uncertainty[1].peak = 14999.0f;
    record.has_scattering = true;
    record.fit.fitted = true;
    record.fit.g = 0.61;
    record.fit.sigma_g = std::nextafter(0.01, 1.0);
    record.fit.q = 2.5;
    record.fit.rows = 1800;
    record.fit.height_high = 316.25;
    record.fit.chi2_dof = std::nan("");
    const nlohmann::json with_fit = Frame_to_json(record);
    EXPECT_TRUE(with_fit.at("gain").is_null());
    EXPECT_EQ(with_fit.at("beam_found"), false);
    FrameRecord again;
    ASSERT_TRUE(Record_from_worker_result(Worker_result(record), again));
    // A result cut short is no result.
    const std::string result = Worker_result(record);
    FrameRecord cut;
    EXPECT_FALSE(Record_from_worker_result(result.substr(0, result.size() - 1), cut));
    EXPECT_FALSE(Record_from_worker_result(result.substr(0, result.find('\n')), cut));
    EXPECT_TRUE(again.has_uncertainty);
    EXPECT_TRUE(std::isnan(again.gain));
    EXPECT_FALSE(again.beam_found);
    EXPECT_EQ(again.sigma_signal, record.sigma_signal);
    EXPECT_EQ(again.clip_level, 15000.0);
    EXPECT_TRUE(again.clip_piled_up);
    ASSERT_EQ(again.row_uncertainty.size(), 2u);
    EXPECT_EQ(again.row_uncertainty[1].peak, 14999.0f);
    ASSERT_TRUE(again.has_scattering);
    EXPECT_TRUE(again.fit.fitted);
    EXPECT_EQ(again.fit.g, 0.61);
    EXPECT_EQ(again.fit.sigma_g, record.fit.sigma_g);
    EXPECT_EQ(again.fit.q, 2.5);
    EXPECT_EQ(again.fit.rows, 1800);
    EXPECT_EQ(again.fit.height_high, 316.25);
    EXPECT_TRUE(std::isnan(again.fit.chi2_dof));   // null in the record
    record.gain = 2.75;
    record.gain_estimated = false;
    const nlohmann::json without_rows = Frame_to_json(record);
    EXPECT_EQ(without_rows.at("gain"), 2.75);
    EXPECT_EQ(without_rows.at("gain_estimated"), false);
    EXPECT_FALSE(without_rows.contains("sigma_signal"));

    // night.json's form: no rows, and a failed frame keeps its code and reason.
    FrameRecord failed;
    failed.name = "cut";
    failed.code = 2;
    failed.message = "Picture 'cut.pgm' ends before its 26966016 samples";
    const nlohmann::json json = Frame_to_json(failed);
    EXPECT_EQ(json.at("status"), "failed");
    EXPECT_FALSE(json.contains("rows"));
    EXPECT_FALSE(json.contains("levels"));
    const FrameRecord failed_back = Frame_from_json(json);
    EXPECT_FALSE(failed_back.measured);
    EXPECT_TRUE(json.at("time").is_null());
    EXPECT_FALSE(failed_back.dated.known);
    EXPECT_EQ(failed_back.code, 2);
    EXPECT_EQ(failed_back.message, failed.message);
}

TEST(NightRecord, FileFactsGiveSizeAndSha256)
{
    const std::string folder = scene::Make_folder();
    scene::Write_file(folder + "/abc", "abc");
    FileFacts facts;
    ASSERT_EQ(Read_file_facts(folder + "/abc", facts).reason, "");
    EXPECT_EQ(facts.size, 3u);
    EXPECT_EQ(facts.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(facts.modified.size(), std::string("2026-01-01T00:00:00.000000000Z").size());
    scene::Write_file(folder + "/empty", "");
    ASSERT_EQ(Read_file_facts(folder + "/empty", facts).reason, "");
    EXPECT_EQ(facts.sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_NE(Read_file_facts(folder + "/missing", facts).reason, "");
    EXPECT_NE(Read_file_facts(folder, facts).reason, "");
    scene::Remove_folder(folder);
}

TEST(NightFrame, NameIsTheFileNameLessItsLastExtension)
{
    EXPECT_EQ(Frame_name("night/2026-12-09/IMG_0001.pgm"), "IMG_0001");
    EXPECT_EQ(Frame_name("IMG_0001.cr2.pgm"), "IMG_0001.cr2");
    EXPECT_EQ(Frame_name("frame"), "frame");
    EXPECT_EQ(Frame_name("./.hidden"), ".hidden");
    EXPECT_EQ(Frame_name("a.b/frame"), "frame");
}

// The table written into a product folder with the console chosen by the driver;
// the computation gives the same values as the report prints.
TEST(NightFrame, TableGoesToTheProductFolderAndTheConsoleToTheChosenStream)
{
    const std::string folder = scene::Make_folder();
    Use_small_frame();
    for (int32_t y = 0; y < vsize; ++y) value.set(size_t(y) * hsize + 31, uint16_t(100 + y));
    laserpath = {{30, 10}, {30, 20}};
    std::ostringstream console;
    Use_console(console);
    product_folder = folder;
    const GreenData data = Measure_green_data();
    const bool written = !Write_green_data(data);
    Use_console(std::cout);
    product_folder.clear();
    ASSERT_TRUE(written);
    ASSERT_EQ(data.rows.size(), 5u);
    EXPECT_EQ(data.rows[0].y, 10);
    std::ostringstream line;
    line << "\nScaling coefficient (scattering angle = 90 deg) = " << data.coefficient
         << "    at x = " << Getpathx(data.row90) << "   y = " << data.row90 << "\n";
    EXPECT_EQ(console.str(), line.str());
    const std::string table = scene::Read_file(folder + "/tavrolin_data.txt");
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 6);
    struct stat status;
    EXPECT_NE(stat("tavrolin_data.txt", &status), 0) << "written into the working folder";
    scene::Remove_folder(folder);
}

}  // namespace

TEST(NightTimes, IsoTimesReadWithZonesAndFractionsAndWrittenInUtc)
{
    double t = 0.0;
    ASSERT_TRUE(Parse_iso_time("2026-03-14T21:03:00Z", t));
    EXPECT_EQ(t, 1773522180.0);
    ASSERT_TRUE(Parse_iso_time("2026-03-14T21:03:00", t));   // no zone: UTC
    EXPECT_EQ(t, 1773522180.0);
    ASSERT_TRUE(Parse_iso_time("2026-03-14T22:33:00.25+01:30", t));
    EXPECT_EQ(t, 1773522180.25);
    ASSERT_TRUE(Parse_iso_time("2026-03-14T19:03:00-02:00", t));
    EXPECT_EQ(t, 1773522180.0);
    for (const char* wrong : {"2026-02-30T10:00:00Z", "2026-03-14 21:03:00", "2026-03-14T21:03", "2026-03-14T21:03:00+1",
                              "2026-03-14T21:03:00Zulu", "2026-03-14T21:03:00.Z", "yesterday"}) {
        EXPECT_FALSE(Parse_iso_time(wrong, t)) << wrong;
    }
    EXPECT_EQ(Iso_time(1773522180.0), "2026-03-14T21:03:00Z");
    EXPECT_EQ(Iso_time(1773522180.25), "2026-03-14T21:03:00.250Z");
    EXPECT_EQ(Iso_time(1773522179.9996), "2026-03-14T21:03:00Z");
}

// A frame's time: the times file's entry (by the name as given or the file name alone)
// before the raw metadata and the file's modification time, the clock offset added to
// each; a times file with a line of another form is refused with its line number.
TEST(NightTimes, FrameTimesFromTheTimesFileElseTheFileAndTheClockOffset)
{
    const std::string folder = scene::Make_folder();
    scene::Write_file(folder + "/a.pgm", "P5");
    scene::Write_file(folder + "/b.pgm", "P5");
    const timespec modified[2] = {{1773500000, 500000000}, {1773500000, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (folder + "/b.pgm").c_str(), modified, 0), 0);
    scene::Write_file(folder + "/times.txt", "# frame time\n\na.pgm 2026-03-14T21:03:00Z\n");
    std::map<std::string, double> times;
    ASSERT_EQ(Read_times_file(folder + "/times.txt", times).reason, "");
    const FrameTime a = Date_frame(folder + "/a.pgm", times, -30.0);
    EXPECT_TRUE(a.known);
    EXPECT_EQ(a.source, "times_file");
    EXPECT_EQ(a.time, 1773522150.0);
    EXPECT_FALSE(a.has_camera);
    const FrameTime b = Date_frame(folder + "/b.pgm", times, 2.0);
    EXPECT_EQ(b.source, "file_modified");
    EXPECT_EQ(b.time, 1773500002.5);
    EXPECT_FALSE(Date_frame(folder + "/c.pgm", times, 0.0).known);

    scene::Write_file(folder + "/bad.txt", "a.pgm 2026-03-14T21:03:00Z\nb.pgm 21:03\n");
    const Failure bad = Read_times_file(folder + "/bad.txt", times);
    EXPECT_EQ(bad.code, 64);
    EXPECT_NE(bad.reason.find("bad.txt:2:"), std::string::npos) << bad.reason;
    EXPECT_EQ(Read_times_file(folder + "/none.txt", times).code, 64);
    scene::Remove_folder(folder);
}

// The corrected picture and the quicklook around (x, y) of the frame in the run state,
// written into `folder` and read back: the corrected samples, the quicklook's RGB.
struct Pictures {
    std::vector<uint16_t> corrected;
    png_image image{};
    std::vector<unsigned char> rgb;
};
void Write_both_pictures(const std::string& folder, int32_t x, int32_t y, Pictures& pictures)
{
    product_folder = folder;
    ASSERT_EQ(Write_corrected_PGM().reason, "");
    product_folder.clear();
    ASSERT_EQ(Write_quicklook(folder + "/quicklook.png", x, y).reason, "");
    pictures.corrected = Pgm_samples(folder + "/linearlyscaledG.PGM", hsize, vsize);
    pictures.image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&pictures.image, (folder + "/quicklook.png").c_str()), 0);
    pictures.image.format = PNG_FORMAT_RGB;
    pictures.rgb.resize(PNG_IMAGE_SIZE(pictures.image));
    ASSERT_NE(png_image_finish_read(&pictures.image, nullptr, pictures.rgb.data(), 0, nullptr), 0);
}

// The quicklook of a small frame: the reduced part is the corrected picture (here
// not reduced, every row taken) brightened, the red frame marks the crop, and the crop beside it
// repeats each corrected pixel 2 x 2.
TEST(Quicklook, PicturePartsFromTheCorrectedPicture)
{
    const std::string folder = scene::Make_folder();
    Use_small_frame();
    for (int32_t y = 0; y < vsize; ++y) {
        for (int32_t x = 0; x < hsize; ++x) value.set(size_t(y) * hsize + x, uint16_t(50 * x + 37 * y + 7 * (x % 3)));
    }
    laserpath = {{30, 10}, {30, 20}};
    Pictures pictures;
    ASSERT_NO_FATAL_FAILURE(Write_both_pictures(folder, 30, 15, pictures));
    const std::vector<uint16_t>& corrected = pictures.corrected;
    const png_image& image = pictures.image;
    const std::vector<unsigned char>& rgb = pictures.rgb;
    // 64 columns, 16 white, the crop (the whole frame: 2 (2 w + 36) is wider) twice.
    ASSERT_EQ(image.width, 64u + 16u + 128u);
    ASSERT_EQ(image.height, 80u);
    const auto pixel = [&](uint32_t x, uint32_t y) { return &rgb[3 * (size_t(y) * image.width + x)]; };
    const auto grey = [&](int32_t x, int32_t y) {
        return 255.0 * std::pow(corrected[size_t(y) * hsize + x] / 65535.0, 1.0 / 2.2);
    };
    int red = 0;
    double worst = 0.0;
    for (int32_t y = 0; y < vsize; ++y) {
        for (int32_t x = 0; x < hsize; ++x) {
            const unsigned char* p = pixel(uint32_t(x), uint32_t(y + 20));   // centred: 20 rows above
            if (p[0] == 255 && p[1] == 0 && p[2] == 0) {
                ++red;
                continue;
            }
            worst = std::max(worst, std::fabs(p[1] - grey(x, y)));
            for (uint32_t i = 0; i < 4; ++i) {
                const unsigned char* q = pixel(80 + 2 * uint32_t(x) + i % 2, 2 * uint32_t(y) + i / 2);
                worst = std::max(worst, std::fabs(q[1] - grey(x, y)));
            }
        }
    }
    EXPECT_LT(worst, 1.01);
    EXPECT_EQ(red, 2 * 64 + 2 * 38) << "the crop's frame around the whole reduced picture";
    EXPECT_EQ(pixel(70, 30)[0] & pixel(70, 30)[1] & pixel(70, 30)[2], 255) << "the gap is white";
    scene::Remove_folder(folder);
}

// A frame wide enough to be reduced (4 x 4 pixels a reduced pixel) takes every second
// row: each reduced pixel is the mean of its block's columns over rows 4b and 4b + 2,
// and no block is left without a row.
TEST(Quicklook, ReducedPictureFromEverySecondRowOfItsBlocks)
{
    const std::string folder = scene::Make_folder();
    Use_small_frame();
    hsize = 3200;
    vsize = 64;
    value.assign(size_t(hsize) * vsize, 0);
    for (int32_t y = 0; y < vsize; ++y) {
        for (int32_t x = 0; x < hsize; ++x) value.set(size_t(y) * hsize + x, uint16_t(1000 + 300 * y + 3 * x));
    }
    laserpath = {{3150, 10}, {3150, 50}};
    Pictures pictures;
    ASSERT_NO_FATAL_FAILURE(Write_both_pictures(folder, 3150, 30, pictures));
    const std::vector<uint16_t>& corrected = pictures.corrected;
    const png_image& image = pictures.image;
    const std::vector<unsigned char>& rgb = pictures.rgb;
    const uint32_t top = (image.height - 16) / 2;   // the reduced part: 800 x 16, centred
    double worst = 0.0;
    for (int32_t b = 0; b < 16; ++b) {
        for (int32_t c = 0; c < 700; c += 50) {
            double sum = 0.0;
            for (const int32_t y : {4 * b, 4 * b + 2}) {
                for (int32_t x = 4 * c; x < 4 * c + 4; ++x) sum += corrected[size_t(y) * hsize + x];
            }
            const double grey = 255.0 * std::pow(sum / 8.0 / 65535.0, 1.0 / 2.2);
            worst = std::max(worst, std::fabs(rgb[3 * ((top + uint32_t(b)) * image.width + uint32_t(c)) + 1] - grey));
        }
    }
    EXPECT_LT(worst, 1.01);
    scene::Remove_folder(folder);
}
