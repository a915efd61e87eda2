// Opening the user's inputs (regular files only, never waiting) and the bounded
// token reader shared by the configuration and path readers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "input/input_file.h"
#include "support/scene_files.h"

namespace {

class InputFolder : public ::testing::Test {
protected:
    void SetUp() override { folder = scene::Make_folder(); }
    void TearDown() override { scene::Remove_folder(folder); }
    std::string Path(const std::string& name) const { return folder + "/" + name; }
    std::string folder;
};

TEST_F(InputFolder, OnlyRegularFilesAreOpenedAndNothingWaits)
{
    scene::Write_file(Path("plain.txt"), "1 2 3 4\n");
    ASSERT_EQ(symlink(Path("plain.txt").c_str(), Path("link.txt").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0644), 0);   // no writer: an open without O_NONBLOCK would wait
    ASSERT_EQ(symlink("/dev/zero", Path("zero").c_str()), 0);
    ASSERT_EQ(symlink(Path("pipe").c_str(), Path("pipe_link").c_str()), 0);
    ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);

    std::string reason;
    bool not_regular = true;
    for (const char* name : {"plain.txt", "link.txt"}) {
        const int descriptor = Open_regular_file(Path(name), reason, not_regular);
        EXPECT_GE(descriptor, 0) << name << ": " << reason;
        EXPECT_FALSE(not_regular);
        if (descriptor >= 0) {
            EXPECT_EQ(fcntl(descriptor, F_GETFL) & O_NONBLOCK, 0) << "reads of " << name << " may not fail with EAGAIN";
            close(descriptor);
        }
    }
    const struct {
        const char* name;
        const char* reason;
    } refused[] = {
        {"pipe", "it is a named pipe, not a regular file"},
        {"pipe_link", "it is a named pipe, not a regular file"},
        {"zero", "it is a character device, not a regular file"},
        {"folder", "it is a directory"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Open_regular_file(Path(r.name), reason, not_regular), -1) << r.name;
        EXPECT_EQ(reason, r.reason);
        EXPECT_TRUE(not_regular) << r.name;
    }
    EXPECT_EQ(Open_regular_file(Path("missing"), reason, not_regular), -1);
    EXPECT_EQ(reason, "No such file or directory");
    EXPECT_FALSE(not_regular);
}

TEST_F(InputFolder, InputFileReadsSeeksAndTellsAcrossItsBlocks)
{
    std::string bytes(300000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    scene::Write_file(Path("data"), bytes);
    InputFile file;
    std::string reason;
    bool not_regular;
    ASSERT_TRUE(file.Open(Path("data"), reason, not_regular)) << reason;
    std::istream in(&file);

    char small[3];
    in.read(small, 3);
    EXPECT_EQ(std::string(small, 3), bytes.substr(0, 3));
    EXPECT_EQ(in.tellg(), 3);
    std::string large(200000, '\0');   // from within a block into a read past it
    in.read(&large[0], static_cast<std::streamsize>(large.size()));
    EXPECT_EQ(in.gcount(), 200000);
    EXPECT_EQ(large, bytes.substr(3, 200000));
    EXPECT_EQ(in.tellg(), 200003);
    in.seekg(0, std::ios::end);
    EXPECT_EQ(in.tellg(), 300000);
    in.seekg(123456);
    EXPECT_EQ(in.get(), static_cast<unsigned char>(bytes[123456]));
    in.seekg(-6, std::ios::cur);
    EXPECT_EQ(in.tellg(), 123451);
    std::string rest(300000, '\0');
    in.read(&rest[0], static_cast<std::streamsize>(rest.size()));
    EXPECT_EQ(in.gcount(), 300000 - 123451);
    EXPECT_TRUE(in.eof());
    EXPECT_FALSE(file.Read_failed());
}

TEST(TokenReader, SplitsAsFormattedInputDoesAndStopsAtTheBound)
{
    std::istringstream in(" \t12\r\n\v\fabc  x");
    TokenReader reader(in);
    std::string token;
    EXPECT_EQ(reader.Next(64, token), TokenReader::token);
    EXPECT_EQ(token, "12");
    EXPECT_EQ(reader.Next(64, token), TokenReader::token);
    EXPECT_EQ(token, "abc");
    EXPECT_EQ(reader.Next(64, token), TokenReader::token);
    EXPECT_EQ(token, "x");
    EXPECT_EQ(reader.Next(64, token), TokenReader::end);
    EXPECT_EQ(reader.Next(64, token), TokenReader::end);

    // A token beyond the bound: only bound + 1 characters are taken from the input.
    const std::string endless = "  " + std::string(100000, '7');
    std::istringstream long_in(endless);
    TokenReader long_reader(long_in);
    EXPECT_EQ(long_reader.Next(64, token), TokenReader::too_long);
    EXPECT_EQ(token, std::string(65, '7'));
    EXPECT_EQ(long_reader.Bytes_read(), 67u);
    EXPECT_EQ(long_in.tellg(), 67);

    std::string with_nul = "ab c";
    with_nul[1] = '\0';
    std::istringstream nul_in(with_nul);
    TokenReader nul_reader(nul_in);
    EXPECT_EQ(nul_reader.Next(64, token), TokenReader::nul_byte);
    EXPECT_EQ(nul_reader.Bytes_read(), 2u);   // the NUL byte is the second
}

TEST(TokenReader, SkipsAByteOrderMarkOnlyAtTheStart)
{
    std::string token;
    std::istringstream marked("\xEF\xBB\xBF" "laser.pgm \xEF\xBB\xBF" "x");
    TokenReader reader(marked);
    EXPECT_EQ(reader.Next(64, token), TokenReader::token);
    EXPECT_EQ(token, "laser.pgm");
    EXPECT_EQ(reader.Next(64, token), TokenReader::token);
    EXPECT_EQ(token, "\xEF\xBB\xBF" "x");   // further on it is part of a token

    // The start of a mark that doesn't go on is kept: bytes are neither lost nor added.
    for (const std::string text : {"\xEF\xBB" "1", "\xEF" "2", "\xEF", "\xEF\xBB"}) {
        std::istringstream in(text);
        TokenReader partial(in);
        EXPECT_EQ(partial.Next(64, token), TokenReader::token);
        EXPECT_EQ(token, text);
        EXPECT_EQ(partial.Next(64, token), TokenReader::end);
    }
    std::istringstream only_mark("\xEF\xBB\xBF");
    TokenReader empty(only_mark);
    EXPECT_EQ(empty.Next(64, token), TokenReader::end);
}

TEST(ShownToken, ControlBytesEscapedAndLongTokensCut)
{
    EXPECT_EQ(Shown_token("abc"), "abc");
    EXPECT_EQ(Shown_token("\x1B[31mred\x7F\t"), "\\x1B[31mred\\x7F\\x09");
    EXPECT_EQ(Shown_token(std::string(41, 'z')), std::string(40, 'z') + "...");
    EXPECT_EQ(Shown_token(std::string(40, 'z')), std::string(40, 'z'));
    EXPECT_EQ(Shown_token("caf\xC3\xA9"), "caf\xC3\xA9");   // UTF-8 is shown as it is
}

}  // namespace
