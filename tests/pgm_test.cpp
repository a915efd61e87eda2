// The 16-bit PGM reader: identifier, header, frame size and samples.
#include <sstream>

#include <gtest/gtest.h>

#include "driver/settings.h"
#include "input/pgm.h"

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

TEST(PgmSamples, BigEndianAfterOneSeparatorByte)
{
    ImagePlane plane;
    std::istringstream in(Bytes({'\n', 0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x12, 0x34, 0x99}));
    EXPECT_EQ(Read_pgm_samples(in, "a.pgm", 4, plane), "");
    ASSERT_EQ(plane.size(), 4u);
    EXPECT_EQ(plane[0], 256);
    EXPECT_EQ(plane[1], 1);
    EXPECT_EQ(plane[2], 65535);
    EXPECT_EQ(plane[3], 0x1234);

    // CR LF after the maximum value: the line feed becomes the first high byte.
    std::istringstream crlf(std::string("P5\n2 1\n65535\r\n") + Bytes({0x00, 0x05, 0x00}));
    std::string shown;
    int32_t width = 0, height = 0, maxval = 0;
    ASSERT_TRUE(Read_pgm_identifier(crlf, shown));
    Read_pgm_header(crlf, width, height, maxval);
    EXPECT_EQ(Read_pgm_samples(crlf, "crlf.pgm", 2, plane), "");
    EXPECT_EQ(plane[0], 0x0A00);
    EXPECT_EQ(plane[1], 0x0500);
}

TEST(PgmSamples, TruncatedOrForgedFilesAreRefusedBeforeAllocating)
{
    ImagePlane plane;
    std::istringstream short_data(Bytes({'\n', 1, 2, 3}));
    EXPECT_EQ(Read_pgm_samples(short_data, "short.pgm", 2, plane),
              "Picture 'short.pgm' ends before its 2 samples");
    EXPECT_TRUE(plane.empty());

    std::istringstream forged(Bytes({'\n', 1, 2}));
    EXPECT_NE(Read_pgm_samples(forged, "forged.pgm", size_t(60000) * 60000, plane), "");
    EXPECT_TRUE(plane.empty());

    std::istringstream nothing("");
    EXPECT_NE(Read_pgm_samples(nothing, "empty.pgm", 1, plane), "");
}

TEST(FrameSize, OnlyFramesThatHoldEveryReadCellAreAccepted)
{
    Reset_run_parameters();
    EXPECT_EQ(Check_frame_size("f", 6384, 4224), "");
    EXPECT_EQ(Check_frame_size("f", 6382, 4222), "");   // the last covered cells
    EXPECT_EQ(Check_frame_size("f", 6384, 4 * 4224), "");   // four frames: the limit itself
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
        EXPECT_EQ(Check_frame_size("f", c.width, c.height), c.message);
    }
    center_size = 4300;   // a centre square reaching above the frame
    EXPECT_EQ(Check_frame_size("f", 6384, 4224),
              "Picture 'f' can't hold the centre square of 4300 pixels (parameter center_size)");
    center_size = 4000;   // rows 133 to 4132, columns 1251 to 5250: inside
    EXPECT_EQ(Check_frame_size("f", 6384, 4224), "");
}

}  // namespace
