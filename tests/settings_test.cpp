// The configuration file: positional tokens, defaults, and the settings refused.
#include <sstream>

#include <gtest/gtest.h>

#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pictures.h"
#include "measure/beam_table.h"

namespace {

std::string Parse(const std::string& text)
{
    Reset_run_parameters();
    std::istringstream in(text);
    return Parse_configuration(in).reason;
}

TEST(Configuration, MissingTokensKeepTheirDefaultsAndTheWidthIsHalved)
{
    EXPECT_EQ(Parse("laser.pgm dark.pgm"), "");
    EXPECT_STREQ(filename, "laser.pgm");
    EXPECT_STREQ(filename_bckg, "dark.pgm");
    EXPECT_EQ(laserdistance, 500.0f);
    EXPECT_EQ(elevation, 10.0f);
    EXPECT_EQ(pathwidth, 15);
    EXPECT_EQ(sidescale, 1);
    EXPECT_EQ(median, 0);
    EXPECT_EQ(correction, 10000.0f);
    EXPECT_EQ(center_size, 100);
    EXPECT_EQ(xcentre, 3231);
    EXPECT_EQ(ycentre, 2139);
    EXPECT_EQ(rmax, 2052);

    EXPECT_EQ(Parse(""), "");
    EXPECT_STREQ(filename, "");
    EXPECT_EQ(pathwidth, 15);

    EXPECT_EQ(Parse("a b 250 12.5 7 3"), "");
    EXPECT_EQ(laserdistance, 250.0f);
    EXPECT_EQ(elevation, 12.5f);
    EXPECT_EQ(pathwidth, 3);
    EXPECT_EQ(sidescale, 3);
    EXPECT_EQ(median, 0);
}

TEST(Configuration, TokensMaySpreadOverLinesWithAnyWhitespace)
{
    EXPECT_EQ(Parse("l.pgm\r\nNODARK\r\n1e3\t-5.25\n\n41 2\r\n4 1.1e-06 50 +3000 2000 1900 extra tokens"), "");
    EXPECT_STREQ(filename_bckg, "NODARK");
    EXPECT_EQ(laserdistance, 1000.0f);
    EXPECT_EQ(elevation, -5.25f);
    EXPECT_EQ(pathwidth, 20);
    EXPECT_EQ(sidescale, 2);
    EXPECT_EQ(median, 4);
    EXPECT_EQ(correction, 1.1e-06f);
    EXPECT_EQ(center_size, 50);
    EXPECT_EQ(xcentre, 3000);
    EXPECT_EQ(ycentre, 2000);
    EXPECT_EQ(rmax, 1900);
}

TEST(Configuration, ATokenThatIsNotWhollyANumberOfItsTypeIsNamed)
{
    const struct {
        const char* numbers;
        const char* message;
    } cases[] = {
        {"500 10 30 1 0 abc", "Can't read parameter 8 (correction) from 'tavrolinconfig.txt': 'abc'"},
        {"500 10 30.5", "Can't read parameter 5 (pathwidth) from 'tavrolinconfig.txt': '30.5'"},
        {"500 10 30 10-5", "Can't read parameter 6 (sidescale) from 'tavrolinconfig.txt': '10-5'"},
        {"500 10 30 1 0 10000 2147483648", "Can't read parameter 9 (center_size) from 'tavrolinconfig.txt': '2147483648'"},
        {"500 10 30 1 0 10000 100 -2147483649", "Can't read parameter 10 (xcentre) from 'tavrolinconfig.txt': '-2147483649'"},
        {"1e39", "Can't read parameter 3 (laserdistance) from 'tavrolinconfig.txt': '1e39'"},
        {"500 1e", "Can't read parameter 4 (elevation) from 'tavrolinconfig.txt': '1e'"},
        {"500 nan", "Can't read parameter 4 (elevation) from 'tavrolinconfig.txt': 'nan'"},
        {"500 10 30 1 0 10000 100 3231 2139 0x800", "Can't read parameter 12 (rmax) from 'tavrolinconfig.txt': '0x800'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(std::string("l.pgm d.pgm ") + c.numbers), c.message) << c.numbers;
    }
}

TEST(Configuration, SettingsTheProductsCannotWorkWithAreRefused)
{
    const struct {
        const char* numbers;
        const char* message;
    } cases[] = {
        {"500 10 1", "Parameter 5 (pathwidth) in 'tavrolinconfig.txt' must be at least 2 (a half width of at least 1), not 1"},
        {"500 10 -31", "Parameter 5 (pathwidth) in 'tavrolinconfig.txt' must be at least 2 (a half width of at least 1), not -31"},
        {"500 10 30 0", "Parameter 6 (sidescale) in 'tavrolinconfig.txt' must be at least 1, not 0"},
        {"500 10 30 1 -2", "Parameter 7 (median) in 'tavrolinconfig.txt' must be 0 or more, not -2"},
        {"500 10 30 1 0 10000 100 3231 2139 0", "Parameter 12 (rmax) in 'tavrolinconfig.txt' must be greater than 0, not 0"},
        {"500 10 30 1 0 10000 100 3231 2139 -5", "Parameter 12 (rmax) in 'tavrolinconfig.txt' must be greater than 0, not -5"},
        {"0", "Parameter 3 (laserdistance) in 'tavrolinconfig.txt' must be greater than 0, not 0"},
        {"-0", "Parameter 3 (laserdistance) in 'tavrolinconfig.txt' must be greater than 0, not -0"},
        {"-12.5", "Parameter 3 (laserdistance) in 'tavrolinconfig.txt' must be greater than 0, not -12.5"},
        {"500 180", "Parameter 4 (elevation) in 'tavrolinconfig.txt' must be greater than -180 and less than 180 (degrees), not 180"},
        {"500 -180", "Parameter 4 (elevation) in 'tavrolinconfig.txt' must be greater than -180 and less than 180 (degrees), not -180"},
        {"500 1e30", "Parameter 4 (elevation) in 'tavrolinconfig.txt' must be greater than -180 and less than 180 (degrees), not 1e+30"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(std::string("l.pgm d.pgm ") + c.numbers), c.message) << c.numbers;
    }
    // Limits that are allowed: a width of 2 or 3, zero median, a centre square of 0,
    // the smallest laser distance, elevations just inside +-180 and of 0 or below.
    for (const char* numbers : {"1e-45 179.99", "500 -179.99", "500 0", "500 -90"}) {
        EXPECT_EQ(Parse(std::string("l.pgm d.pgm ") + numbers), "") << numbers;
    }
    EXPECT_EQ(Parse("l.pgm d.pgm 500 10 3 1 0 0 0 3231 2139 1"), "");
    EXPECT_EQ(pathwidth, 1);
    EXPECT_EQ(center_size, 0);
    EXPECT_EQ(correction, 0.0f);
}

TEST(Configuration, FileNamesLongerThanTheBufferAreRefused)
{
    const std::string longest(1023, 'n');
    EXPECT_EQ(Parse(longest + " " + longest), "");
    EXPECT_EQ(std::string(filename_bckg), longest);

    const std::string too_long(2000, 'n');
    EXPECT_EQ(Parse("laser.pgm " + too_long),
              "Parameter 2 (filename_bckg) in 'tavrolinconfig.txt' is a file name of more than 1023 "
              "characters ('" + std::string(40, 'n') + "...'); at most 1023 are allowed");
    EXPECT_NE(Parse(std::string(1024, 'x')).find("Parameter 1 (filename)"), std::string::npos);
}

TEST(Configuration, TokensAreBoundedAndShownEscaped)
{
    // 64 characters are still a number; 65 are refused without reading the rest.
    const std::string longest = "0." + std::string(62, '5');
    EXPECT_EQ(Parse("l.pgm d.pgm " + longest), "");
    EXPECT_EQ(laserdistance, 0.555555555f);
    const std::string endless(1000000, '9');
    EXPECT_EQ(Parse("l.pgm d.pgm 500 " + endless),
              "Can't read parameter 4 (elevation) from 'tavrolinconfig.txt': '" + std::string(40, '9') +
                  "...' has more than 64 characters");
    EXPECT_EQ(Parse("l.pgm d.pgm 500 10\x1b]0;title\x07"),
              "Can't read parameter 4 (elevation) from 'tavrolinconfig.txt': '10\\x1B]0;title\\x07'");
}

TEST(Configuration, ByteOrderMarkSkippedAndNulBytesRefused)
{
    EXPECT_EQ(Parse("\xEF\xBB\xBFlaser.pgm NODARK 250"), "");
    EXPECT_STREQ(filename, "laser.pgm");
    EXPECT_EQ(laserdistance, 250.0f);

    const std::string cut_name = std::string("laser.pgm\0.evil NODARK", 23);
    EXPECT_EQ(Parse(cut_name),
              "Can't read parameter 1 (filename) from 'tavrolinconfig.txt': it holds a NUL byte "
              "(byte 10 of the file), not text");
    const std::string nul_number = std::string("l.pgm d.pgm 500 \0", 17);
    EXPECT_EQ(Parse(nul_number),
              "Can't read parameter 4 (elevation) from 'tavrolinconfig.txt': it holds a NUL byte "
              "(byte 17 of the file), not text");
    // Whatever follows the twelfth token is never read.
    EXPECT_EQ(Parse(std::string("l d 500 10 30 1 0 10000 100 3231 2139 2052 \0", 44)), "");
}

TEST(Configuration, ImageCentreAndRadiusMustFitTheLaserPicture)
{
    Reset_run_parameters();
    EXPECT_EQ(Check_settings_for_picture("l.pgm", 6384, 4224).reason, "");
    xcentre = 0;
    ycentre = 4223;
    rmax = 7654;   // the diagonal is 7654.9
    EXPECT_EQ(Check_settings_for_picture("l.pgm", 6384, 4224).reason, "");
    rmax = 7655;
    EXPECT_EQ(Check_settings_for_picture("l.pgm", 6384, 4224).reason,
              "Parameter 12 (rmax) in 'tavrolinconfig.txt' must be at most the diagonal of the "
              "picture 'l.pgm', 7654 pixels, not 7655");
    rmax = 2052;
    xcentre = 6384;
    EXPECT_EQ(Check_settings_for_picture("l.pgm", 6384, 4224).reason,
              "Parameter 10 (xcentre) in 'tavrolinconfig.txt' must be a column of the picture "
              "'l.pgm', 0 to 6383, not 6384");
    xcentre = -1;
    EXPECT_NE(Check_settings_for_picture("l.pgm", 6384, 4224).reason.find("(xcentre)"), std::string::npos);
    xcentre = 3231;
    ycentre = 4224;
    EXPECT_EQ(Check_settings_for_picture("l.pgm", 6384, 4224).reason,
              "Parameter 11 (ycentre) in 'tavrolinconfig.txt' must be a row of the picture "
              "'l.pgm', 0 to 4223, not 4224");
    ycentre = -2147483647 - 1;
    EXPECT_NE(Check_settings_for_picture("l.pgm", 6384, 4224).reason.find("(ycentre)"), std::string::npos);
}

}  // namespace
