// The camera's raw files named directly: the generator's full frame written also as
// DNG files, which DCRAW turns back into the very PGMs, and through which the
// program gives the same tables, pictures and console as through the PGMs. A DNG
// cut short is refused with code 2 and nothing written (a DNG cut short in its
// samples, which LibRaw still identifies, is tested with the raw-file reader).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "support/scene_files.h"

namespace {

int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Replaces every `from` in `text` by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// One full frame with a dark picture, as PGMs and as DNGs, each run in a folder of
// its own: pgm/ names the PGMs, raw/ names the DNGs.
class RawFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = scene::Make_folder();
        ASSERT_EQ(Shell(std::string(SCENE_EXE) + " --seed 5 --dng " + folder_ + "/pgm >/dev/null"), 0);
        const std::string raw = folder_ + "/raw";
        std::filesystem::create_directory(raw);
        for (const char* name : {"scene_laser.dng", "scene_dark.dng", "tavrolinpath.txt"}) {
            std::filesystem::rename(folder_ + "/pgm/" + name, raw + "/" + name);
        }
        std::filesystem::copy_file(raw + "/tavrolinpath.txt", folder_ + "/pgm/tavrolinpath.txt");
        scene::Write_file(raw + "/tavrolinconfig.txt",
                          Replaced(scene::Read_file(folder_ + "/pgm/tavrolinconfig.txt"), ".pgm", ".dng"));
        pgm_ = scene::Run(TAVROLIN_EXE, folder_ + "/pgm");
        raw_ = scene::Run(TAVROLIN_EXE, raw);
    }
    static void TearDownTestSuite() { scene::Remove_folder(folder_); }

    static std::string folder_;
    static scene::RunResult pgm_, raw_;
};

std::string RawFiles::folder_;
scene::RunResult RawFiles::pgm_;
scene::RunResult RawFiles::raw_;

TEST_F(RawFiles, DcrawTurnsTheDngsBackIntoThePgms)
{
    if (Shell("command -v dcraw >/dev/null") != 0) GTEST_SKIP() << "dcraw is not installed";
    for (const std::string picture : {"scene_laser", "scene_dark"}) {
        const std::string converted = folder_ + "/" + picture + ".from_dng.pgm";
        ASSERT_EQ(Shell("dcraw -E -4 -W -j -t 0 -c " + folder_ + "/raw/" + picture + ".dng >" + converted), 0);
        EXPECT_TRUE(scene::Read_file(converted) == scene::Read_file(folder_ + "/pgm/" + picture + ".pgm"))
            << picture << ": DCRAW's PGM of the DNG differs from the generator's PGM";
        std::filesystem::remove(converted);
    }
}

TEST_F(RawFiles, RunsOnTheDngsGiveTheSameProductsAndConsole)
{
    ASSERT_EQ(pgm_.exit_code, 0) << pgm_.console;
    ASSERT_EQ(raw_.exit_code, 0) << raw_.console;
    EXPECT_TRUE(scene::Read_file(folder_ + "/raw/tavrolin_data.txt") ==
                scene::Read_file(folder_ + "/pgm/tavrolin_data.txt"));
    EXPECT_TRUE(scene::Read_file(folder_ + "/raw/linearlyscaledG.PGM") ==
                scene::Read_file(folder_ + "/pgm/linearlyscaledG.PGM"));
    // From the dark-level stage on the console is the same; before it only the
    // pictures' names differ.
    const std::string stage = "Processing the picture of the laser beam...\n";
    const size_t pgm_at = pgm_.console.find(stage), raw_at = raw_.console.find(stage);
    ASSERT_NE(pgm_at, std::string::npos);
    ASSERT_NE(raw_at, std::string::npos);
    EXPECT_EQ(raw_.console.substr(raw_at), pgm_.console.substr(pgm_at));
    EXPECT_EQ(Replaced(raw_.console, ".dng", ".pgm"), pgm_.console);
}

TEST_F(RawFiles, ADngCutShortIsRefusedWithNothingWritten)
{
    const std::string cut = folder_ + "/cut";
    std::filesystem::create_directory(cut);
    std::filesystem::copy_file(folder_ + "/raw/scene_laser.dng", cut + "/scene_laser.dng");
    std::filesystem::resize_file(cut + "/scene_laser.dng", 30000000);
    std::filesystem::copy_file(folder_ + "/raw/tavrolinpath.txt", cut + "/tavrolinpath.txt");
    scene::Write_file(cut + "/tavrolinconfig.txt", scene::Config_text("scene_laser.dng", "NODARK"));
    const scene::RunResult result = scene::Run(TAVROLIN_EXE, cut);
    EXPECT_EQ(result.exit_code, 2);
    // The generator's DNG has its directory after the samples: cut short, LibRaw
    // can't identify it, and it is no raw file that LibRaw knows.
    const std::string expected_end =
        "Reading laser path image from file...\n"
        "Identifier of the file: 'II'\n"
        "Input file scene_laser.dng is not a valid 16-bit PGM file, ending...\n"
        "The pictures must be 16-bit binary PGM files (P5) or camera raw files; make the "
        "16-bit mosaic from the camera's raw file with: dcraw -E -4 -W -j -t 0 FILE\n";
    ASSERT_GE(result.console.size(), expected_end.size());
    EXPECT_EQ(result.console.substr(result.console.size() - expected_end.size()), expected_end)
        << result.console;
    EXPECT_FALSE(std::filesystem::exists(cut + "/linearlyscaledG.PGM"));
    EXPECT_FALSE(std::filesystem::exists(cut + "/tavrolin_data.txt"));
}

}  // namespace
