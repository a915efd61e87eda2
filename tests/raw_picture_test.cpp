// The raw-file reader on small DNG files written here: which files it takes as raw
// files, which it refuses and why, and the samples it decodes.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>

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
    TIFFClose(tiff);
}

class RawPictureTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = scene::Make_folder(); }
    void TearDown() override { scene::Remove_folder(folder_); }

    // Opens the file `name` of the folder as a raw file.
    Raw_opening Open(const std::string& name, RawPicture& raw, std::string& reason)
    {
        const std::string failure = Open_picture_file(folder_ + "/" + name, bytes_);
        EXPECT_EQ(failure, "");
        return raw.Open(bytes_, name, reason);
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
    ImagePlane plane;
    ASSERT_EQ(raw.Decode("a.dng", plane), "");
    ASSERT_EQ(plane.size(), size_t(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            ASSERT_EQ(plane[size_t(y) * width + x], Sample(x, y)) << x << ", " << y;
        }
    }
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

    // A TIFF that LibRaw can't read is refused as a raw file; other files are not raw.
    scene::Write_file(folder_ + "/tiff.dng", std::string("II*\0", 4) + std::string(100, 'x'));
    RawPicture tiff;
    std::string reason;
    EXPECT_EQ(Open("tiff.dng", tiff, reason), raw_refused);
    EXPECT_EQ(reason, "Raw file 'tiff.dng' can't be used: LibRaw says \"Unsupported file format or not RAW file\"");
    for (const std::string& bytes : {std::string("P6\n2 2\n255\n") + std::string(12, 'x'),
                                     std::string("hello, not a picture\n")}) {
        scene::Write_file(folder_ + "/other", bytes);
        RawPicture other;
        PictureBytes fresh;
        ASSERT_EQ(Open_picture_file(folder_ + "/other", fresh), "");
        EXPECT_EQ(other.Open(fresh, "other", reason), raw_not_known) << bytes << reason;
    }
}

}  // namespace
