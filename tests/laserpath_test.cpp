// The path file reader and the beam's column at a row.
#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "input/laserpath.h"

namespace {

// Reads `text` as the path file does and sorts the points by row.
std::string Load_path(const std::string& text)
{
    laserpath.clear();
    std::istringstream in(text);
    std::string failure = Parse_laser_path(in).reason;
    std::sort(laserpath.begin(), laserpath.end(), Compare);
    return failure;
}

TEST(Getpathx, InterpolatesBetweenTwoPointsWithOrWithoutFinalLineBreak)
{
    for (const char* text : {"100 10\n200 20\n", "100 10\n200 20", "200 20\n100 10\n"}) {
        ASSERT_EQ(Load_path(text), "");
        ASSERT_EQ(laserpath.size(), 2u);
        EXPECT_EQ(Getpathx(9), -1);
        EXPECT_EQ(Getpathx(10), 100);
        EXPECT_EQ(Getpathx(15), 150);
        EXPECT_EQ(Getpathx(20), 200);
        EXPECT_EQ(Getpathx(21), -1);
    }
}

TEST(Getpathx, SlopeIsRoundedToFloatAndResultTruncatedTowardZero)
{
    Load_path("200 10 100 20");   // descending columns
    EXPECT_EQ(Getpathx(11), 190);
    EXPECT_EQ(Getpathx(13), 170);

    Load_path("0 0 1 3");   // two thirds truncates to 0
    EXPECT_EQ(Getpathx(1), 0);
    EXPECT_EQ(Getpathx(2), 0);
    EXPECT_EQ(Getpathx(3), 1);

    Load_path("0 0 2 50");   // 2/50 rounds down as a float: 25 times it stays below 1
    EXPECT_EQ(Getpathx(25), 0);
    Load_path("0 0 10 30");   // 10/30 rounds up as a float: 3 times it reaches 1
    EXPECT_EQ(Getpathx(3), 1);

    Load_path("-10 0 0 20");   // negative results truncate toward zero
    EXPECT_EQ(Getpathx(1), -9);
    EXPECT_EQ(Getpathx(2), -9);
    EXPECT_EQ(Getpathx(3), -8);

    Load_path("-2 0 0 2");   // an interpolated -1 looks like a row outside the path
    EXPECT_EQ(Getpathx(1), -1);
}

TEST(Getpathx, ManyPointsAndSharedRows)
{
    // Polyline through four points, given out of order.
    Load_path("400 40\n100 10\n300 30\n200 20\n");
    EXPECT_EQ(Getpathx(25), 250);
    EXPECT_EQ(Getpathx(30), 300);
    EXPECT_EQ(Getpathx(39), 390);

    // Two points on row 5: row 7 interpolates from whichever the sort placed second.
    Load_path("10 5\n20 5\n30 9\n");
    const int32_t first = laserpath[0].x;
    const int32_t second = laserpath[1].x;
    EXPECT_EQ(Getpathx(5), first);
    EXPECT_EQ(Getpathx(7), second == 20 ? 25 : 20);

    Load_path("7 3");   // a single point
    EXPECT_EQ(Getpathx(3), 7);
    EXPECT_EQ(Getpathx(2), -1);
    EXPECT_EQ(Getpathx(4), -1);
}

TEST(ParseLaserPath, TakesPairsInAnyLayoutAndDropsALoneLastNumber)
{
    EXPECT_EQ(Load_path("1 2 3 4 5"), "");
    EXPECT_EQ(laserpath.size(), 2u);
    EXPECT_EQ(Load_path("  1\t2\r\n\n3\n   4  "), "");
    ASSERT_EQ(laserpath.size(), 2u);
    EXPECT_EQ(laserpath[1].x, 3);
    EXPECT_EQ(laserpath[1].y, 4);
    EXPECT_EQ(Load_path("-5 +7"), "");
    EXPECT_EQ(laserpath[0].x, -5);
    EXPECT_EQ(laserpath[0].y, 7);
    EXPECT_EQ(Load_path(""), "");
    EXPECT_TRUE(laserpath.empty());
    EXPECT_EQ(Load_path("2147483647 -2147483648"), "");
    EXPECT_EQ(laserpath[0].y, -2147483648LL);
}

TEST(ParseLaserPath, RefusesTokensThatAreNotWhole32BitIntegers)
{
    const struct {
        const char* text;
        const char* token;
    } cases[] = {
        {"1 2 abc 4", "'abc' (token 3 of the file)"},
        {"1 2.5", "'2.5' (token 2 of the file)"},
        {"10-5 3", "'10-5' (token 1 of the file)"},
        {"1 2147483648", "'2147483648' (token 2 of the file)"},
        {"-2147483649 1", "'-2147483649' (token 1 of the file)"},
        {"1 2 3 -", "'-' (token 4 of the file)"},
        {"0x10 1", "'0x10' (token 1 of the file)"},
    };
    for (const auto& c : cases) {
        const std::string failure = Load_path(c.text);
        EXPECT_NE(failure.find(c.token), std::string::npos) << c.text << " -> " << failure;
        EXPECT_NE(failure.find("tavrolinpath.txt"), std::string::npos);
    }
}

TEST(ParseLaserPath, BoundedTokensByteOrderMarkAndNulBytes)
{
    EXPECT_EQ(Load_path("\xEF\xBB\xBF" "100 10\r\n200 20\r\n"), "");
    ASSERT_EQ(laserpath.size(), 2u);
    EXPECT_EQ(laserpath[0].x, 100);

    // 64 characters are still read (leading zeros), 65 are refused unread.
    EXPECT_EQ(Load_path(std::string(63, '0') + "7 1 2 3"), "");
    EXPECT_EQ(laserpath[0].x, 7);
    const std::string endless(5000000, '1');
    EXPECT_EQ(Load_path("1 2 " + endless),
              "Can't read a path coordinate from 'tavrolinpath.txt': '" + std::string(40, '1') +
                  "...' (token 3 of the file) has more than 64 characters");
    EXPECT_EQ(Load_path(std::string("1 2 3\0 4", 8)),
              "Can't read a path coordinate from 'tavrolinpath.txt': token 3 of the file "
              "holds a NUL byte (byte 6 of the file), not text");
    EXPECT_EQ(Load_path("1 \x1b[2J"),
              "Can't read a path coordinate from 'tavrolinpath.txt': '\\x1B[2J' (token 2 of the "
              "file) is not a whole number in the 32-bit range");
}

}  // namespace
