// The raw-file reader on small DNG files written here: which files it takes as raw
// files, which it refuses and why, and the samples it decodes.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

#include "input/camera_facts.h"
#include "input/picture_file.h"
#include "input/raw_picture.h"
#include "support/scene_files.h"

namespace {

constexpr int32_t width = 48;
constexpr int32_t height = 32;

// The sample that the test pictures hold at (x, y).
uint16_t Sample(int32_t x, int32_t y) { return static_cast<uint16_t>(1000 * y + 7 * x + 40000 * (x % 2)); }

struct Dng {
    std::array<uint8_t, 4> cfa = {0, 1, 1, 2};   // red, green / green, blue
    std::array<uint32_t, 4> active_area = {2, 4, height, width};   // top, left, bottom, right
    bool linear = false;                         // three samples per pixel, no mosaic
    const char* taken = nullptr;                 // EXIF DateTimeOriginal, "YYYY:MM:DD HH:MM:SS"
};

void Write_dng(const std::string& path, const Dng& dng)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    const uint8_t version[4] = {1, 4, 0, 0};
    const uint16_t repeat[2] = {2, 2};
    const uint16_t samples = dng.linear ? 3 : 1;
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, dng.linear ? 34892 : PHOTOMETRIC_CFA);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_MAKE, "TAVROLIN");
    TIFFSetField(tiff, TIFFTAG_MODEL, "test");
    TIFFSetField(tiff, TIFFTAG_DNGVERSION, version);
    TIFFSetField(tiff, TIFFTAG_UNIQUECAMERAMODEL, "TAVROLIN test");
    if (!dng.linear) {
        TIFFSetField(tiff, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
        TIFFSetField(tiff, TIFFTAG_CFAPATTERN, 4, dng.cfa.data());
    }
    TIFFSetField(tiff, TIFFTAG_ACTIVEAREA, dng.active_area.data());
    std::vector<uint16_t> row(size_t(width) * samples);
    for (int32_t y = 0; y < height; ++y) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = Sample(int32_t(i / samples), y);
        ASSERT_EQ(TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0), 1);
    }
    if (dng.taken != nullptr) {
        // The EXIF directory after the picture's, then pointed to from it.
        const uint16_t iso[1] = {3200};
        uint64_t exif = 0;
        ASSERT_TRUE(TIFFSetField(tiff, TIFFTAG_EXIFIFD, uint64_t{0}) && TIFFWriteDirectory(tiff) &&
                    TIFFCreateEXIFDirectory(tiff) == 0 && TIFFSetField(tiff, EXIFTAG_DATETIMEORIGINAL, dng.taken) &&
                    TIFFSetField(tiff, EXIFTAG_EXPOSURETIME, 0.5) && TIFFSetField(tiff, EXIFTAG_FNUMBER, 4.0) &&
                    TIFFSetField(tiff, EXIFTAG_ISOSPEEDRATINGS, 1, iso) &&
                    TIFFSetField(tiff, EXIFTAG_FOCALLENGTH, 15.0) &&
                    TIFFSetField(tiff, EXIFTAG_BODYSERIALNUMBER, "0123\x01" "456") &&
                    TIFFWriteCustomDirectory(tiff, &exif) && TIFFSetDirectory(tiff, 0) &&
                    TIFFSetField(tiff, TIFFTAG_EXIFIFD, exif) && TIFFRewriteDirectory(tiff));
    }
    TIFFClose(tiff);
}

void Write_dng_directory_first(const std::string& path, bool lossless_jpeg = false)
{
    scene::Write_file(path, scene::Dng_directory_first(width, height, Sample, lossless_jpeg));
}

// Decodes the opened raw file and expects the test pictures' samples.
void Expect_samples(RawPicture& raw, const std::string& name)
{
    ImagePlane plane;
    ASSERT_EQ(raw.Decode(name, plane).reason, "");
    ASSERT_EQ(plane.size(), size_t(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) ASSERT_EQ(plane[size_t(y) * width + x], Sample(x, y)) << x << ", " << y;
    }
}

// A DNG of 2 x 2 lossless JPEG tiles, `streams` row by row, each of (width / 2) x
// (height / 2) samples.
std::string Tiled_dng(const std::vector<std::string>& streams)
{
    constexpr uint32_t entries = 16;
    const uint32_t text_at = 8 + 2 + entries * 12 + 4, offsets_at = text_at + 16, counts_at = offsets_at + 16;
    std::string file = scene::Tiff_directory({
        {254, 4, 1, 0}, {256, 4, 1, uint32_t(width)}, {257, 4, 1, uint32_t(height)}, {258, 3, 1, 16},
        {259, 3, 1, 7}, {262, 3, 1, 32803}, {271, 2, 9, text_at}, {272, 2, 5, text_at + 9}, {277, 3, 1, 1},
        {322, 4, 1, uint32_t(width / 2)}, {323, 4, 1, uint32_t(height / 2)}, {324, 4, 4, offsets_at},
        {325, 4, 4, counts_at}, {33421, 3, 2, 2 | 2 << 16}, {33422, 1, 4, 0 | 1 << 8 | 1 << 16 | 2 << 24},
        {50706, 1, 4, 1 | 4 << 8}});
    file += std::string("TAVROLIN\0test\0\0", 16);
    uint32_t at = counts_at + 16;
    for (const std::string& stream : streams) {
        scene::Put_le32(file, at);
        at += uint32_t(stream.size());
    }
    for (const std::string& stream : streams) scene::Put_le32(file, uint32_t(stream.size()));
    for (const std::string& stream : streams) file += stream;
    return file;
}

class RawPictureTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = scene::Make_folder(); }
    void TearDown() override { scene::Remove_folder(folder_); }

    // Opens the file `name` of the folder as a raw file.
    Raw_opening Open(const std::string& name, RawPicture& raw, std::string& reason)
    {
        EXPECT_EQ(Open_picture_file(folder_ + "/" + name, bytes_).reason, "");
        EXPECT_EQ(bytes_.Load(bytes_.file_size()).reason, "");
        Failure refusal;
        const Raw_opening opening = raw.Open(bytes_, name, refusal);
        reason = refusal.reason;
        return opening;
    }

    std::string folder_;
    PictureBytes bytes_;
};

TEST_F(RawPictureTest, AnRggbMosaicIsDecodedWholeWithItsMaskedBorder)
{
    // A DNG's CFA pattern starts at the corner of its ActiveArea: one row down, the
    // pattern there is green, blue / red, green for red at (0, 0) of the raw frame.
    Dng dng;
    dng.cfa = {1, 2, 0, 1};
    dng.active_area = {1, 2, height, width};
    Write_dng(folder_ + "/a.dng", dng);
    RawPicture raw;
    std::string reason;
    ASSERT_EQ(Open("a.dng", raw, reason), raw_opened) << reason;
    EXPECT_EQ(raw.Width(), width);
    EXPECT_EQ(raw.Height(), height);
    Expect_samples(raw, "a.dng");
}

TEST_F(RawPictureTest, ARawFileCutShortInItsSamplesIsRefusedWhenDecoded)
{
    Write_dng_directory_first(folder_ + "/whole.dng");
    RawPicture whole;
    std::string reason;
    ASSERT_EQ(Open("whole.dng", whole, reason), raw_opened) << reason;
    ImagePlane plane;
    ASSERT_EQ(whole.Decode("whole.dng", plane).reason, "");
    ASSERT_EQ(plane.size(), size_t(width) * height);
    EXPECT_EQ(plane[0], Sample(0, 0));
    EXPECT_EQ(plane.back(), Sample(width - 1, height - 1));

    const std::string bytes = scene::Read_file(folder_ + "/whole.dng");
    scene::Write_file(folder_ + "/cut.dng", bytes.substr(0, bytes.size() - 1000));
    RawPicture cut;
    ASSERT_EQ(Open("cut.dng", cut, reason), raw_opened) << reason;
    ImagePlane none;
    EXPECT_EQ(cut.Decode("cut.dng", none).reason,
              "Raw file 'cut.dng' can't be decoded: LibRaw says \"Input/output error\"");
    EXPECT_TRUE(none.empty());
}

TEST_F(RawPictureTest, LosslessJpegDataThatIsNoJpegStreamIsRefusedNotDecodedAsGarbage)
{
    Write_dng_directory_first(folder_ + "/garbage.dng", true);
    RawPicture raw;
    std::string reason;
    EXPECT_EQ(Open("garbage.dng", raw, reason), raw_refused);
    EXPECT_EQ(reason, "Raw file 'garbage.dng' can't be decoded: its compression is lossless JPEG, but its data "
                      "hold no JPEG stream");
}

// A lossless JPEG DNG decodes to its samples; one whose stream is damaged after a
// sound start was decoded as zeros or rubbish without a word, and is refused.
TEST_F(RawPictureTest, DamagedLosslessJpegWasDecodedAsRubbish)
{
    const scene::LosslessJpeg jpeg = scene::Lossless_jpeg(width, height, Sample);
    scene::Write_file(folder_ + "/sound.dng", scene::Dng_with_strip(width, height, jpeg.Stream(), 7));
    RawPicture sound;
    std::string reason;
    ASSERT_EQ(Open("sound.dng", sound, reason), raw_opened) << reason;
    Expect_samples(sound, "sound.dng");

    // Coded data of random bytes (0xFF bytes followed by 0x00, as in a stream).
    std::string garbage;
    uint32_t state = 23;
    while (garbage.size() < jpeg.entropy.size()) {
        state = state * 1103515245u + 12345u;
        garbage.push_back(char(state >> 16 & 0xFF));
        if ((state >> 16 & 0xFF) == 0xFF) garbage.push_back('\0');
    }
    // The frame header's height (after the Huffman table).
    const size_t height_at = jpeg.header.find("\xFF\xC3") + 5;
    const auto with_height = [&](int32_t rows) {
        std::string header = jpeg.header;
        header[height_at] = char(rows >> 8);
        header[height_at + 1] = char(rows & 0xFF);
        return header + jpeg.entropy + "\xFF\xD9";
    };
    const struct {
        const char* name;
        std::string stream;
        const char* fault;
    } damaged[] = {
        {"garbage.dng", jpeg.header + garbage + "\xFF\xD9", "coded data that are no Huffman code (row 0)"},
        {"truncated.dng", jpeg.header + jpeg.entropy.substr(0, jpeg.entropy.size() / 2) + "\xFF\xD9",
         "its coded data end at row 16 of 32"},
        {"short_frame.dng", with_height(height / 2),
         "its frame of 48 x 16 samples of 1 components doesn't cover the 48 x 32 samples it stands for"},
        {"tall_frame.dng", with_height(height + 1), "its coded data end at row 32 of 33"},
        {"no_table.dng", jpeg.header.substr(0, 2) + jpeg.header.substr(2 + 2 + 36) + jpeg.entropy + "\xFF\xD9",
         "no Huffman table for its samples"},
        {"long_segment.dng", jpeg.header.substr(0, 4) + "\xFF\xF0", "a marker segment runs past the file's end"},
        {"trailing.dng", jpeg.header + jpeg.entropy + std::string(16, '\x55') + "\xFF\xD9",
         "coded data beyond the frame's last sample"},
    };
    for (const auto& c : damaged) {
        scene::Write_file(folder_ + "/" + c.name, scene::Dng_with_strip(width, height, c.stream, 7));
        RawPicture raw;
        EXPECT_EQ(Open(c.name, raw, reason), raw_refused) << c.name;
        EXPECT_EQ(reason, "Raw file '" + std::string(c.name) + "' can't be decoded: its lossless JPEG data are "
                                                               "damaged: " + c.fault);
    }
}

// The same for a tiled DNG, as converters write them: each tile's stream is walked.
TEST_F(RawPictureTest, DamagedLosslessJpegTileWasDecodedAsRubbish)
{
    std::vector<std::string> streams;
    for (int32_t tile = 0; tile < 4; ++tile) {
        const int32_t left = tile % 2 * width / 2, top = tile / 2 * height / 2;
        streams.push_back(scene::Lossless_jpeg(width / 2, height / 2, [&](int32_t x, int32_t y) {
                              return Sample(left + x, top + y);
                          }).Stream());
    }
    scene::Write_file(folder_ + "/tiled.dng", Tiled_dng(streams));
    RawPicture sound;
    std::string reason;
    ASSERT_EQ(Open("tiled.dng", sound, reason), raw_opened) << reason;
    Expect_samples(sound, "tiled.dng");

    const std::string whole = streams[2];
    streams[2] = whole.substr(0, whole.size() / 2) + "\xFF\xD9" + std::string(whole.size() / 2 - 2, '\0');
    scene::Write_file(folder_ + "/cut_tile.dng", Tiled_dng(streams));
    RawPicture cut;
    EXPECT_EQ(Open("cut_tile.dng", cut, reason), raw_refused);
    EXPECT_EQ(reason, "Raw file 'cut_tile.dng' can't be decoded: its lossless JPEG data are damaged: tile 3 of 4: "
                      "its coded data end at row 7 of 16");
}

TEST_F(RawPictureTest, FilesWithoutAnRggbMosaicAreRefusedAndOthersAreNotRaw)
{
    const struct {
        const char* name;
        Dng dng;
        const char* reason;
    } refused[] = {
        {"grbg.dng", {{1, 0, 2, 1}, {2, 4, height, width}, false},
         "Raw file 'grbg.dng' can't be used: its mosaic is not red, green / green, blue at even coordinates"},
        {"bggr.dng", {{2, 1, 1, 0}, {2, 4, height, width}, false},
         "Raw file 'bggr.dng' can't be used: its mosaic is not red, green / green, blue at even coordinates"},
        {"shifted.dng", {{0, 1, 1, 2}, {1, 2, height, width}, false},
         "Raw file 'shifted.dng' can't be used: its mosaic is not red, green / green, blue at even coordinates"},
        {"linear.dng", {{0, 1, 1, 2}, {2, 4, height, width}, true},
         "Raw file 'linear.dng' can't be used: it holds no Bayer mosaic of red, green and blue cells"},
    };
    for (const auto& c : refused) {
        Write_dng(folder_ + "/" + c.name, c.dng);
        RawPicture raw;
        std::string reason;
        EXPECT_EQ(Open(c.name, raw, reason), raw_refused) << c.name;
        EXPECT_EQ(reason, c.reason);
    }

    // A file that LibRaw can't identify is no raw file, a TIFF picture included.
    Failure refusal;
    for (const std::string& bytes : {std::string("P6\n2 2\n255\n") + std::string(12, 'x'),
                                     std::string("hello, not a picture\n"),
                                     std::string("II*\0", 4) + std::string(100, 'x')}) {
        scene::Write_file(folder_ + "/other", bytes);
        RawPicture other;
        PictureBytes fresh;
        ASSERT_EQ(Open_picture_file(folder_ + "/other", fresh).reason, "");
        EXPECT_EQ(other.Open(fresh, "other", refusal), raw_not_known) << bytes << refusal.reason;
    }
}

}  // namespace

// The capture time is the camera's clock reading taken as UTC, whatever the local time
// zone: here one where that reading falls into the hour skipped in spring.
TEST(CameraFacts, CaptureTimeAndSettingsOfARawFileAsUtcInAnyTimeZone)
{
    const std::string folder = scene::Make_folder();
    Dng dng;
    dng.taken = "2026:03:08 02:30:00";
    Write_dng(folder + "/exif.dng", dng);
    Write_dng(folder + "/plain.dng", Dng());
    scene::Write_file(folder + "/text.pgm", "P5\n2 2\n65535\n12345678");
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "America/New_York", 1);
    tzset();
    CameraFacts facts;
    const bool raw = Read_camera_facts(folder + "/exif.dng", facts);
    EXPECT_STREQ(std::getenv("TZ"), "America/New_York");   // the zone is put back
    if (zone) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    ASSERT_TRUE(raw);
    EXPECT_TRUE(facts.has_time);
    EXPECT_EQ(facts.time, 1772937000);   // 2026-03-08T02:30:00Z
    EXPECT_EQ(facts.exposure, 0.5);
    EXPECT_EQ(facts.aperture, 4.0);
    EXPECT_EQ(facts.iso, 3200.0);
    EXPECT_EQ(facts.focal_length, 15.0);
    EXPECT_EQ(facts.make, "TAVROLIN");
    EXPECT_EQ(facts.model, "test");
    EXPECT_EQ(facts.body_serial, "0123456");   // the control byte left out

    ASSERT_TRUE(Read_camera_facts(folder + "/plain.dng", facts));
    EXPECT_FALSE(facts.has_time);
    EXPECT_EQ(facts.exposure, 0.0);
    EXPECT_FALSE(Read_camera_facts(folder + "/text.pgm", facts));
    EXPECT_FALSE(Read_camera_facts(folder + "/missing.dng", facts));
    scene::Remove_folder(folder);
}
