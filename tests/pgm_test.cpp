// The 16-bit PGM reader: identifier, header, frame size and samples.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pictures.h"
#include "measure/beam_table.h"
#include "base/signals.h"
#include "input/pgm.h"
#include "input/picture_file.h"
#include "base/product_file.h"
#include "support/scene_files.h"

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values) bytes.push_back(static_cast<char>(v));
    return bytes;
}

TEST(PgmIdentifier, ThirdByteIsIgnoredAndShownTextStopsAtNul)
{
    std::string shown;
    std::istringstream p5("P5\n");
    EXPECT_TRUE(Read_pgm_identifier(p5, shown));
    EXPECT_EQ(shown, "P5");
    std::istringstream p6("P6\n1 1\n");
    EXPECT_FALSE(Read_pgm_identifier(p6, shown));
    EXPECT_EQ(shown, "P6");
    std::istringstream nul(Bytes({'Q', 0, 'x'}));
    EXPECT_FALSE(Read_pgm_identifier(nul, shown));
    EXPECT_EQ(shown, "Q");
    std::istringstream empty("");
    EXPECT_FALSE(Read_pgm_identifier(empty, shown));
    EXPECT_EQ(shown, "");

    // The identifier directly followed by a digit loses that digit.
    std::istringstream glued("P56384 4224 65535\n");
    ASSERT_TRUE(Read_pgm_identifier(glued, shown));
    int32_t width = 0, height = 0, maxval = 0;
    Read_pgm_header(glued, width, height, maxval);
    EXPECT_EQ(width, 384);
}

TEST(PgmHeader, NumbersThatCannotBeReadStopTheHeader)
{
    int32_t width = 0, height = 0, maxval = 0;
    std::istringstream comment("# made by hand\n6 4\n65535\n");
    Read_pgm_header(comment, width, height, maxval);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(maxval, 0);

    std::istringstream huge(" 2147483648 4224 65535\n");
    Read_pgm_header(huge, width, height, maxval);
    EXPECT_EQ(width, 2147483647);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(maxval, 0);

    std::istringstream spread("\n\t 6384\r\n4224 \n65535\n");
    Read_pgm_header(spread, width, height, maxval);
    EXPECT_EQ(width, 6384);
    EXPECT_EQ(height, 4224);
    EXPECT_EQ(maxval, 65535);
}

// Takes the samples of `bytes` after the header that ends at `at`.
std::string Take(const std::string& bytes, size_t at, const std::string& name, size_t count,
                 ImagePlane& plane)
{
    const auto owner = std::make_shared<const std::string>(bytes);
    return Take_pgm_samples(owner, reinterpret_cast<const unsigned char*>(owner->data()),
                            owner->size(), at, name, count, plane)
        .reason;
}

TEST(PgmSamples, BigEndianAfterOneSeparatorByte)
{
    ImagePlane plane;
    EXPECT_EQ(Take(Bytes({'\n', 0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x12, 0x34, 0x99}), 0, "a.pgm", 4,
                   plane),
              "");
    ASSERT_EQ(plane.size(), 4u);
    EXPECT_EQ(plane[0], 256);
    EXPECT_EQ(plane[1], 1);
    EXPECT_EQ(plane[2], 65535);
    EXPECT_EQ(plane[3], 0x1234);

    // CR LF after the maximum value: the line feed becomes the first high byte.
    const std::string crlf_file = std::string("P5\n2 1\n65535\r\n") + Bytes({0x00, 0x05, 0x00});
    Byte_stream crlf(crlf_file);
    std::string shown;
    int32_t width = 0, height = 0, maxval = 0;
    ASSERT_TRUE(Read_pgm_identifier(crlf, shown));
    Read_pgm_header(crlf, width, height, maxval);
    EXPECT_EQ(crlf.Position(), 12u);   // at the carriage return
    EXPECT_EQ(Take(crlf_file, crlf.Position(), "crlf.pgm", 2, plane), "");
    EXPECT_EQ(plane[0], 0x0A00);
    EXPECT_EQ(plane[1], 0x0500);

    // A header that runs to the end of the file leaves the position there.
    const std::string ends_file = "P5 2 1 65535";
    Byte_stream ends(ends_file);
    ASSERT_TRUE(Read_pgm_identifier(ends, shown));
    Read_pgm_header(ends, width, height, maxval);
    EXPECT_EQ(ends.Position(), 12u);
    EXPECT_NE(Take(ends_file, 12, "ends.pgm", 2, plane), "");
}

TEST(PgmSamples, TruncatedOrForgedFilesAreRefusedBeforeAllocating)
{
    ImagePlane plane;
    EXPECT_EQ(Take(Bytes({'\n', 1, 2, 3}), 0, "short.pgm", 2, plane),
              "Picture 'short.pgm' ends before its 2 samples");
    EXPECT_TRUE(plane.empty());
    EXPECT_EQ(Take(Bytes({'\n', 1, 2, 3, 4}), 0, "exact.pgm", 2, plane), "");
    EXPECT_EQ(plane.back(), 0x0304);

    ImagePlane forged;
    EXPECT_NE(Take(Bytes({'\n', 1, 2}), 0, "forged.pgm", size_t(60000) * 60000, forged), "");
    EXPECT_TRUE(forged.empty());

    EXPECT_NE(Take("", 0, "empty.pgm", 1, forged), "");
}

// A plane viewing a file's bytes stays valid after the file's other holders are
// gone, and a copy that is written to leaves the view as it was.
TEST(ImagePlaneStorage, ViewsKeepTheirBytesAndWritesCopyThem)
{
    ImagePlane view;
    ASSERT_EQ(Take(Bytes({'\n', 0, 7, 1, 0}), 0, "v.pgm", 2, view), "");
    ImagePlane copy = view;
    copy.set(1, 0xBEEF);
    EXPECT_EQ(view[0], 7);
    EXPECT_EQ(view[1], 256);
    EXPECT_EQ(copy[0], 7);
    EXPECT_EQ(copy[1], 0xBEEF);
    ImagePlane moved = std::move(copy);
    EXPECT_TRUE(copy.empty());
    EXPECT_EQ(moved[1], 0xBEEF);
    moved.resize(3);
    EXPECT_EQ(moved[2], 0);
    EXPECT_EQ(moved[1], 0xBEEF);
    view.clear();
    EXPECT_TRUE(view.empty());
}

TEST(FrameSize, OnlyFramesThatHoldEveryReadCellAreAccepted)
{
    Reset_run_parameters();
    EXPECT_EQ(Check_frame_size("f", 6384, 4224).reason, "");
    EXPECT_EQ(Check_frame_size("f", 6382, 4222).reason, "");   // the last covered cells
    EXPECT_EQ(Check_frame_size("f", 6384, 4 * 4224).reason, "");   // four frames: the limit itself
    const struct {
        int32_t width, height;
        const char* message;
    } refused[] = {
        {0, 4224, "Picture 'f' has a size of 0 x 4224: both must be positive"},
        {6384, -2, "Picture 'f' has a size of 6384 x -2: both must be positive"},
        {65536, 65536, "Picture 'f' is too large: 65536 x 65536 samples are more than 32-bit indices can reach"},
        {6385, 4224, "Picture 'f' has a size of 6385 x 4224: the 2x2 colour cells need an even width and height"},
        {6384, 4221, "Picture 'f' has a size of 6384 x 4221: the 2x2 colour cells need an even width and height"},
        {6380, 4224, "Picture 'f' is too small: 6380 x 4224, but the covered pixels and the centre square need at least 6382 x 4222"},
        {6, 4, "Picture 'f' is too small: 6 x 4, but the covered pixels and the centre square need at least 6382 x 4222"},
        {6384, 16898, "Picture 'f' is too large: 6384 x 16898 are 107876832 samples, more than the limit of "
                      "107864064 (four frames of the camera)"},
        {46340, 46340, "Picture 'f' is too large: 46340 x 46340 are 2147395600 samples, more than the limit of "
                       "107864064 (four frames of the camera)"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(Check_frame_size("f", c.width, c.height).reason, c.message);
    }
    center_size = 4300;   // a centre square reaching above the frame
    EXPECT_EQ(Check_frame_size("f", 6384, 4224).reason,
              "Picture 'f' can't hold the centre square of 4300 pixels (parameter center_size)");
    center_size = 4000;   // rows 133 to 4132, columns 1251 to 5250: inside
    EXPECT_EQ(Check_frame_size("f", 6384, 4224).reason, "");
}

}  // namespace

namespace {

// A picture file's bytes come from its mapping (or its buffer) as they are on disk;
// a picture cut short while it is mapped ends the run by the run's SIGBUS handler
// with a message, and the product being written is removed, so no truncated
// product is left.
class PictureFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder_ = scene::Make_folder(); }
    void TearDown() override { scene::Remove_folder(folder_); }
    std::string folder_;
};

TEST_F(PictureFileTest, BytesAreTheFilesAndRefusalsNameIt)
{
    std::string content(3 * 4096 + 5, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    scene::Write_file(folder_ + "/p.pgm", content);
    PictureBytes bytes;
    ASSERT_EQ(Open_picture_file(folder_ + "/p.pgm", bytes).reason, "");
    ASSERT_EQ(bytes.size(), content.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), content);

    // A larger file: its first 64 KiB at first, then as much as is asked for.
    std::string large(300000, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 13 + i / 251);
    scene::Write_file(folder_ + "/large.pgm", large);
    PictureBytes part;
    ASSERT_EQ(Open_picture_file(folder_ + "/large.pgm", part).reason, "");
    EXPECT_EQ(part.file_size(), large.size());
    EXPECT_EQ(part.size(), 65536u);
    ASSERT_EQ(part.Load(200001).reason, "");
    ASSERT_EQ(part.size(), 200001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.data()), part.size()), large.substr(0, 200001));
    ASSERT_EQ(part.Load(400000).reason, "");   // no more than the file holds
    EXPECT_EQ(part.size(), large.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(part.data()), part.size()), large);

    scene::Write_file(folder_ + "/empty.pgm", "");
    PictureBytes empty;
    EXPECT_EQ(Open_picture_file(folder_ + "/empty.pgm", empty).reason, "");
    EXPECT_EQ(empty.size(), 0u);

    PictureBytes missing, folder;
    EXPECT_EQ(Open_picture_file(folder_ + "/none.pgm", missing).reason,
              "Can't open picture file '" + folder_ + "/none.pgm': No such file or directory");
    EXPECT_EQ(Open_picture_file(folder_, folder).reason,
              "Can't open picture file '" + folder_ + "': it is a directory");
}

TEST_F(PictureFileTest, PictureCutShortWhileMappedEndsTheRunWithoutAProduct)
{
    const std::string picture = folder_ + "/cut.pgm";
    scene::Write_file(picture, std::string(64 * 4096, 'x'));
    const std::string product = folder_ + "/linearlyscaledG.PGM";
    const std::string console = folder_ + "/console.txt";
    EXPECT_EXIT(
        {
            const int out = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            Install_signal_handlers();
            ProductFile file;
            if (Open_product(product, file)) std::_Exit(10);
            PictureBytes bytes;
            if (Open_picture_file(picture, bytes)) std::_Exit(11);
            if (bytes.Load(bytes.file_size())) std::_Exit(14);
            if (truncate(picture.c_str(), 4096) != 0) std::_Exit(12);
            volatile unsigned char last = bytes.data()[bytes.size() - 1];
            (void)last;
            std::_Exit(13);
        },
        ::testing::KilledBySignal(SIGBUS), "");
    EXPECT_EQ(scene::Read_file(console),
              "\nA picture file changed (was truncated) while it was being read, ending...\n");
    // Nothing but the picture and the console is left: no product, no temporary file.
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        left.insert(entry.path().filename().string());
    }
    EXPECT_EQ(left, (std::set<std::string>{"console.txt", "cut.pgm"}));
}

}  // namespace
