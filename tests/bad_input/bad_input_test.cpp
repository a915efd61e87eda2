// Bad input never crashes, corrupts or lies: malformed configuration, path and
// picture files, inputs that would block or never end, frames no camera makes,
// products that can't be written, and runs interrupted by a signal, each run through
// the built program in a fresh folder. Every case checks the exit code (128 + the
// signal for a run a signal ended), the console's failure lines (the last of them
// ends the console), what became of the products of an earlier run that lie in the
// folder, and that no temporary product file is left. Every run has two minutes and,
// outside the sanitizer build, 512 MB of address space.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/scene_files.h"

namespace {

const std::string program = TAVROLIN_EXE;

const std::string banner = scene::banner;
const std::string config_line = "Reading parameters from 'tavrolinconfig.txt' ...";
const std::string path_line = "Reading laser path points from 'tavrolinpath.txt'... ";
const std::string laser_line = "Reading laser path image from file...\n";
const std::string dark_line = "Reading background image data from file...";

// The lines of advice that follow a failure message.
const std::string folder_advice =
    "tavrolin reads 'tavrolinconfig.txt', 'tavrolinpath.txt' and the pictures from the folder it is started in.\n";
const std::string token_order =
    "The twelve tokens of 'tavrolinconfig.txt', in order: laser picture, dark picture or NODARK, "
    "laser distance (m), elevation (deg), band width (pixels), side band scale, median half window (rows), "
    "high-level limit, centre square size (pixels), image centre x, image centre y, image circle radius (pixels).\n";
const std::string path_advice = "'tavrolinpath.txt' in the folder tavrolin runs in holds the beam's course "
                                "as whole pixel coordinates, pairs x y, in any order.\n";
const std::string laser_advice =
    "The laser picture is token 1 of 'tavrolinconfig.txt'; names are taken relative to the folder tavrolin runs in.\n";
const std::string dark_advice = "The dark picture is token 2 (NODARK for none) of 'tavrolinconfig.txt'; "
                                "names are taken relative to the folder tavrolin runs in.\n";
const std::string dcraw = "make the 16-bit mosaic from the camera's raw file with: dcraw -E -4 -W -j -t 0 FILE\n";
const std::string not_p5_advice =
    "The pictures must be 16-bit binary PGM files (P5) or camera raw files; " + dcraw;
const std::string eight_bit_advice = "The picture holds 8-bit samples; " + dcraw;
const std::string unread_header_advice = "The header's numbers could not be read (a comment line in the header?); " + dcraw;

const std::string picture_name = "linearlyscaledG.PGM";
const std::string table_name = "tavrolin_data.txt";
const std::string earlier_picture = std::string("P5\n2 2\n65535\n") + std::string(8, '\x5a');
const std::string earlier_table = "x(pixel)\ty(pixel)\nearlier run\n";

using Files = std::vector<std::pair<std::string, std::string>>;

// What the run must leave of an earlier product: untouched, replaced by a new one,
// or the folder that stood in its place (empty, as it was).
enum class Product { kept, replaced, folder };

// What happens to the run from outside.
struct Interference {
    const char* hold_at = nullptr;   // the product whose complete temporary file holds the run
    int signal = 0;                  // sent to the held run
    rlim_t file_size_limit = 0;      // bytes a file may grow to (ulimit -f), when not 0
    rlim_t memory_limit = 0;         // bytes of address space (ulimit -v), when not 0
    bool console_gone = false;       // standard output a pipe whose reader has gone
    long failing_allocation = 0;     // the allocation that finds no memory, when not 0
    const char* counted_bytes = "1024";   // the smallest allocation counted
    std::string allocations_file;    // where the run's count of such allocations goes, when not empty
};

Interference Held_at(const char* product, int signal)
{
    Interference how;
    how.hold_at = product;
    how.signal = signal;
    return how;
}

Interference File_size_limit(rlim_t bytes)
{
    Interference how;
    how.file_size_limit = bytes;
    return how;
}

[[maybe_unused]] Interference Memory_limit(rlim_t bytes)
{
    Interference how;
    how.memory_limit = bytes;
    return how;
}

Interference Console_gone()
{
    Interference how;
    how.console_gone = true;
    return how;
}

struct Case {
    const char* what;
    Files files;                                      // written into the folder first
    std::function<void(const std::string&)> prepare;  // anything else the folder needs
    int exit_code;
    std::vector<std::string> console;   // shown in this order; the last one ends the console
    Product picture = Product::kept;
    Product table = Product::kept;
    Interference interference = {};
};

std::string Config(const std::string& numbers, const std::string& dark = "NODARK")
{
    return scene::Config_text("laser.pgm", dark, numbers);
}

const std::string default_numbers = "500 10 30 1 0 10000 100 3231 2139 2052";
const std::string good_path = "3100 1000\n3300 3000\n";

// A configuration and path that pass their stages, with the given pictures.
Files With_pictures(Files pictures, const std::string& dark = "NODARK")
{
    pictures.emplace_back("tavrolinconfig.txt", Config(default_numbers, dark));
    pictures.emplace_back("tavrolinpath.txt", good_path);
    return pictures;
}

bool Ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Is_folder(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::vector<std::string> Entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

void Make_subfolder(const std::string& path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

// Replaces a product of the earlier run by an empty folder of its name.
std::function<void(const std::string&)> Folder_in_place_of(const std::string& name)
{
    return [name](const std::string& folder) {
        ASSERT_EQ(unlink((folder + "/" + name).c_str()), 0);
        Make_subfolder(folder + "/" + name);
    };
}

void Expect_product(const std::string& folder, const std::string& name, Product expected,
                    const std::string& earlier, const std::string& new_start)
{
    const std::string path = folder + "/" + name;
    switch (expected) {
    case Product::kept:
        EXPECT_EQ(scene::Read_file(path), earlier) << name << " was changed";
        break;
    case Product::replaced: {
        const std::string now = scene::Read_file(path);
        EXPECT_NE(now, earlier) << name << " was not written";
        EXPECT_EQ(now.substr(0, new_start.size()), new_start) << name;
        break;
    }
    case Product::folder:
        EXPECT_TRUE(Is_folder(path)) << name;
        EXPECT_TRUE(Entries(path).empty()) << name << " folder was written into";
        break;
    }
}

// The frame of the camera, made once per test process and linked into the folders
// of the cases that read a whole frame: black level 2048 with a brighter beam band
// along the good path.
struct SharedFrame {
    std::string folder;
    ~SharedFrame()
    {
        try {
            if (!folder.empty()) scene::Remove_folder(folder);
        } catch (...) {
        }
    }
    const std::string& Path()
    {
        static std::string path;
        if (path.empty()) {
            folder = scene::Make_folder();
            path = folder + "/frame.pgm";
            scene::Write_pgm(path, scene::full_width, scene::full_height, [](int32_t x, int32_t y) {
                const int32_t beam = 3100 + (y - 1000) / 10;
                return static_cast<uint16_t>(x >= beam - 6 && x <= beam + 6 ? 6048 : 2048);
            });
        }
        return path;
    }
} shared_frame;

void Link_frame(const std::string& folder, const std::string& name)
{
    const std::string target = folder + "/" + name;
    if (link(shared_frame.Path().c_str(), target.c_str()) != 0) {
        scene::Write_file(target, scene::Read_file(shared_frame.Path()));
    }
}

std::function<void(const std::string&)> Frame_as(const std::string& name)
{
    return [name](const std::string& folder) { Link_frame(folder, name); };
}

// The address space every run gets unless its case says otherwise: a few hundred MB
// are enough for any case (not in the sanitizer build, whose shadow memory needs far more).
#if defined(__SANITIZE_ADDRESS__)   // GCC's sanitizer build
#define TAVROLIN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)        // clang's
#if __has_feature(address_sanitizer)
#define TAVROLIN_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(TAVROLIN_ADDRESS_SANITIZER)
constexpr rlim_t default_memory_limit = 0;
#else
constexpr rlim_t default_memory_limit = rlim_t{512} << 20;
#endif

// Runs the program in `folder` with standard input from /dev/null and the console
// (standard output and error) read back, as `how` says. A run that hangs is ended
// by SIGALRM after two minutes: its status then shows 128 + SIGALRM.
scene::RunResult Run_with(const std::string& folder, const Interference& how)
{
    int console[2];
    if (pipe(console) != 0) return {-1, "pipe failed"};
    const std::string held = folder + "/.held";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        if (how.console_gone) {
            int gone[2];
            if (pipe(gone) != 0) _exit(126);
            close(gone[0]);
            dup2(gone[1], STDOUT_FILENO);
            dup2(gone[1], STDERR_FILENO);
        } else {
            dup2(console[1], STDOUT_FILENO);
            dup2(console[1], STDERR_FILENO);
        }
        close(console[0]);
        close(console[1]);
        // The signals as a shell starts a program in the foreground: none blocked or
        // ignored, whatever the test runner inherited.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGBUS, SIGPIPE, SIGXFSZ}) signal(s, SIG_DFL);
        const rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (how.file_size_limit) {
            const rlimit limit = {how.file_size_limit, how.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const rlim_t bytes = how.memory_limit ? how.memory_limit : default_memory_limit;
        if (bytes != 0) {
            const rlimit limit = {bytes, bytes};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (how.failing_allocation != 0 || !how.allocations_file.empty()) {
            setenv("LD_PRELOAD", FAIL_NEW_LIBRARY, 1);
            setenv("TAVROLIN_TEST_FAIL_NEW_BYTES", how.counted_bytes, 1);
            setenv("TAVROLIN_TEST_FAIL_NEW", std::to_string(how.failing_allocation).c_str(), 1);
            if (!how.allocations_file.empty()) setenv("TAVROLIN_TEST_COUNT_NEW", how.allocations_file.c_str(), 1);
        }
        if (how.hold_at) {
            setenv("LD_PRELOAD", HOLD_PRODUCT_LIBRARY, 1);
            setenv("TAVROLIN_TEST_HOLD", how.hold_at, 1);
            setenv("TAVROLIN_TEST_HELD", held.c_str(), 1);
            const char* asan = std::getenv("ASAN_OPTIONS");
            const std::string options = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
            setenv("ASAN_OPTIONS", options.c_str(), 1);
        }
        alarm(120);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(console[1]);
    int status = 0;
    bool ended = false;
    if (how.hold_at) {
        // Wait until the run is held, then interrupt it there.
        while (access(held.c_str(), F_OK) != 0) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                ended = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        unlink(held.c_str());
        if (!ended) kill(pid, how.signal);
    }
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(console[0], buffer, sizeof buffer)) > 0) text.append(buffer, size_t(got));
    close(console[0]);
    if (!ended) waitpid(pid, &status, 0);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    return {code, text};
}

scene::RunResult Check(const Case& c)
{
    SCOPED_TRACE(c.what);
    const std::string folder = scene::Make_folder();
    scene::Write_file(folder + "/" + picture_name, earlier_picture);
    scene::Write_file(folder + "/" + table_name, earlier_table);
    for (const auto& file : c.files) scene::Write_file(folder + "/" + file.first, file.second);
    if (c.prepare) c.prepare(folder);

    const scene::RunResult result = Run_with(folder, c.interference);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.console;
    size_t from = 0;
    for (const std::string& part : c.console) {
        const size_t at = result.console.find(part, from);
        EXPECT_NE(at, std::string::npos) << "missing, or out of order: " << part
                                         << "\nconsole:\n" << result.console;
        if (at != std::string::npos) from = at + part.size();
    }
    if (!c.console.empty()) {
        EXPECT_TRUE(Ends_with(result.console, c.console.back()))
            << "the console goes on after: " << c.console.back() << "\nconsole:\n" << result.console;
    }
    Expect_product(folder, picture_name, c.picture, earlier_picture, "P5\n6384 4224\n65535\n");
    Expect_product(folder, table_name, c.table, earlier_table, "x(pixel)\ty(pixel)\tr(pixel)\t");
    // No temporary product file may be left behind.
    for (const std::string& name : Entries(folder)) {
        EXPECT_NE(name.rfind(picture_name + ".", 0), 0u) << "left behind: " << name;
        EXPECT_NE(name.rfind(table_name + ".", 0), 0u) << "left behind: " << name;
    }
    scene::Remove_folder(folder);
    return result;
}

std::string Config_refusal(const std::string& message)
{
    return config_line + message + ", ending...\n" + token_order;
}

TEST(BadInput, ExactConsoleOfTheFourClassicFailures)
{
    const std::string small_8_bit = "P5\n4 2\n255\n\x01\x02\x03\x04\x05\x06\x07\x08";
    const std::string path_read = config_line + "OK\n" + path_line + "2 points read\n";
    const Case cases[] = {
        {"no configuration file", {}, nullptr, 4,
         {banner + config_line + "Can't read config file 'tavrolinconfig.txt', ending...\n" +
          "The system's reason: No such file or directory; " + folder_advice}},
        {"no path file", {{"tavrolinconfig.txt", Config(default_numbers)}}, nullptr, 5,
         {banner + config_line + "OK\n" + path_line +
          "Can't read path-file 'tavrolinpath.txt', ending...\n" +
          "The system's reason: No such file or directory; " + path_advice}},
        {"a colour picture (P6)", With_pictures({{"laser.pgm", "P6\n4 2\n255\n" + std::string(24, '\0')}}),
         nullptr, 2,
         {banner + path_read + laser_line + "Identifier of the file: 'P6'\n" +
          "Input file laser.pgm is not a valid 16-bit PGM file, ending...\n" + not_p5_advice}},
        {"an 8-bit picture", With_pictures({{"laser.pgm", small_8_bit}}), nullptr, 3,
         {banner + path_read + laser_line + "laser.pgm file was opened succesfully...\n" +
          "Horizontal size: 4\nVertical size:   2\nNumber of brightness levels:   255\n" +
          "PGM file has not a 16-bit brightness encoding, ending...\n" + eight_bit_advice}},
    };
    for (const Case& c : cases) EXPECT_EQ(Check(c).console, c.console.front()) << c.what;
}

// The report on standard output is the console the classic failures have always
// shown, line for line; the advice goes to standard error alone.
TEST(BadInput, AdviceStaysOffTheConsoleReport)
{
    const std::string path_read = config_line + "OK\n" + path_line + "2 points read\n";
    const struct {
        const char* what;
        Files files;
        std::string report;
        std::string advice;
    } cases[] = {
        {"no configuration file", {},
         banner + config_line + "Can't read config file 'tavrolinconfig.txt', ending...\n",
         "The system's reason: No such file or directory; " + folder_advice},
        {"a colour picture (P6)", With_pictures({{"laser.pgm", "P6\n4 2\n255\n" + std::string(24, '\0')}}),
         banner + path_read + laser_line + "Identifier of the file: 'P6'\n" +
             "Input file laser.pgm is not a valid 16-bit PGM file, ending...\n",
         not_p5_advice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = scene::Make_folder();
        for (const auto& file : c.files) scene::Write_file(folder + "/" + file.first, file.second);
        const std::string command = "cd '" + folder + "' && '" + std::string(TAVROLIN_EXE) +
                                    "' </dev/null >report.txt 2>advice.txt";
        EXPECT_NE(std::system(command.c_str()), 0);
        EXPECT_EQ(scene::Read_file(folder + "/report.txt"), c.report);
        EXPECT_EQ(scene::Read_file(folder + "/advice.txt"), c.advice);
    }
}

TEST(BadInput, ConfigurationRefused)
{
    const std::string path = good_path;
    auto config_case = [&](const char* what, const std::string& text, const std::string& message) {
        return Case{what, {{"tavrolinconfig.txt", text}, {"tavrolinpath.txt", path}}, nullptr, 4,
                    {Config_refusal(message)}};
    };
    const std::string long_name(2000, 'n');
    const Case cases[] = {
        config_case("letters for a float", Config("abc 10 30"),
                    "Can't read parameter 3 (laserdistance) from 'tavrolinconfig.txt': 'abc'"),
        config_case("a fraction for an integer", Config("500 10 30.5 1"),
                    "Can't read parameter 5 (pathwidth) from 'tavrolinconfig.txt': '30.5'"),
        config_case("two numbers run together", Config("500 10 30 10-5 0"),
                    "Can't read parameter 6 (sidescale) from 'tavrolinconfig.txt': '10-5'"),
        config_case("an integer beyond 32 bits", Config("500 10 30 1 0 10000 100 2147483648"),
                    "Can't read parameter 10 (xcentre) from 'tavrolinconfig.txt': '2147483648'"),
        config_case("a negative integer beyond 32 bits", Config("500 10 30 1 0 10000 100 3231 -2147483649"),
                    "Can't read parameter 11 (ycentre) from 'tavrolinconfig.txt': '-2147483649'"),
        config_case("a float beyond the float range", Config("500 10 30 1 0 1e39"),
                    "Can't read parameter 8 (correction) from 'tavrolinconfig.txt': '1e39'"),
        config_case("letters for the last integer", Config("500 10 30 1 0 10000 100 3231 2139 abc"),
                    "Can't read parameter 12 (rmax) from 'tavrolinconfig.txt': 'abc'"),
        config_case("a half width of 0", Config("500 10 1"),
                    "Parameter 5 (pathwidth) in 'tavrolinconfig.txt' must be at least 2 "
                    "(a half width of at least 1), not 1"),
        config_case("a negative width", Config("500 10 -30"),
                    "Parameter 5 (pathwidth) in 'tavrolinconfig.txt' must be at least 2 "
                    "(a half width of at least 1), not -30"),
        config_case("sidescale 0", Config("500 10 30 0"),
                    "Parameter 6 (sidescale) in 'tavrolinconfig.txt' must be at least 1, not 0"),
        config_case("a negative median", Config("500 10 30 1 -1"),
                    "Parameter 7 (median) in 'tavrolinconfig.txt' must be 0 or more, not -1"),
        config_case("rmax 0", Config("500 10 30 1 0 10000 100 3231 2139 0"),
                    "Parameter 12 (rmax) in 'tavrolinconfig.txt' must be greater than 0, not 0"),
        config_case("a negative rmax", Config("500 10 30 1 0 10000 100 3231 2139 -2052"),
                    "Parameter 12 (rmax) in 'tavrolinconfig.txt' must be greater than 0, not -2052"),
        config_case("a laser picture name of 2000 characters",
                    scene::Config_text(long_name, "NODARK", default_numbers),
                    "Parameter 1 (filename) in 'tavrolinconfig.txt' is a file name of more than 1023 "
                    "characters ('" + std::string(40, 'n') + "...'); at most 1023 are allowed"),
        config_case("a dark picture name of 1024 characters",
                    scene::Config_text("laser.pgm", std::string(1024, 'd'), default_numbers),
                    "Parameter 2 (filename_bckg) in 'tavrolinconfig.txt' is a file name of more than 1023 "
                    "characters ('" + std::string(40, 'd') + "...'); at most 1023 are allowed"),
        config_case("CR LF line ends with a bad token",
                    "laser.pgm\r\nNODARK\r\n500\r\n10\r\n30.5\r\n",
                    "Can't read parameter 5 (pathwidth) from 'tavrolinconfig.txt': '30.5'"),
        {"a folder named like the configuration file", {{"tavrolinpath.txt", path}},
         [](const std::string& folder) { Make_subfolder(folder + "/tavrolinconfig.txt"); }, 4,
         {config_line + "Can't read config file 'tavrolinconfig.txt': it is a directory, ending...\n" + folder_advice}},
    };
    for (const Case& c : cases) Check(c);
}

TEST(BadInput, PathRefused)
{
    const std::string config = Config(default_numbers);
    auto path_case = [&](const char* what, const std::string& text, const std::string& message,
                         const std::string& advice = "") {
        return Case{what, {{"tavrolinconfig.txt", config}, {"tavrolinpath.txt", text}}, nullptr, 5,
                    {config_line + "OK\n", path_line + message + ", ending...\n" + advice}};
    };
    const std::string not_whole = " is not a whole number in the 32-bit range";
    auto token_case = [&](const char* what, const std::string& text, const std::string& message) {
        return path_case(what, text, message + not_whole, path_advice);
    };
    const std::string two_rows = "The path in 'tavrolinpath.txt' needs points on at least two different rows";
    const Case cases[] = {
        token_case("letters", "3100 1000 x 3000\n",
                  "Can't read a path coordinate from 'tavrolinpath.txt': 'x' (token 3 of the file)"),
        token_case("a fraction", "3100 1000.5 3300 3000\n",
                  "Can't read a path coordinate from 'tavrolinpath.txt': '1000.5' (token 2 of the file)"),
        token_case("an integer beyond 32 bits", "3100 1000 2147483648 3000\n",
                  "Can't read a path coordinate from 'tavrolinpath.txt': '2147483648' (token 3 of the file)"),
        token_case("a negative integer beyond 32 bits", "-2147483649 1000 3300 3000\n",
                  "Can't read a path coordinate from 'tavrolinpath.txt': '-2147483649' (token 1 of the file)"),
        token_case("a lone sign", "3100 1000 - 3000\n",
                  "Can't read a path coordinate from 'tavrolinpath.txt': '-' (token 3 of the file)"),
        path_case("an empty path file", "", "0 points read\n" + two_rows + " but holds none"),
        path_case("only line breaks", "\r\n\r\n\n", "0 points read\n" + two_rows + " but holds none"),
        path_case("one point", "3100 1000\n", "1 points read\n" + two_rows + " but has them all on row 1000"),
        path_case("one point and a lone number", "3100 1000 3300", "1 points read\n" + two_rows +
                                                                       " but has them all on row 1000"),
        path_case("all points on one row", "3100 1000\r\n3200 1000\r\n3300 1000\r\n",
                  "3 points read\n" + two_rows + " but has them all on row 1000"),
        // A hundred million points took a gigabyte; the points beyond the most are not read.
        path_case("a path of more points than any picture has rows for", [] {
            std::string many;
            for (int i = 0; i <= (1 << 20); ++i) many += "3100 1000\n";
            return many;
        }(), "Can't read a path coordinate from 'tavrolinpath.txt': the file holds more than 1048576 points (pairs x y)",
                  path_advice),
        {"a folder named like the path file", {{"tavrolinconfig.txt", config}},
         [](const std::string& folder) { Make_subfolder(folder + "/tavrolinpath.txt"); }, 5,
         {config_line + "OK\n" + path_line + "Can't read path-file 'tavrolinpath.txt': it is a directory, ending...\n" +
          path_advice}},
    };
    for (const Case& c : cases) Check(c);
}

// Laser pictures refused before their samples are sampled: small files will do.
TEST(BadInput, LaserPictureRefused)
{
    const std::string opened = "laser.pgm file was opened succesfully...\n";
    const std::string not_16_bit = "PGM file has not a 16-bit brightness encoding, ending...\n";
    auto sizes = [](const std::string& w, const std::string& h, const std::string& m) {
        return "Horizontal size: " + w + "\nVertical size:   " + h + "\nNumber of brightness levels:   " + m + "\n";
    };
    auto laser = [](const std::string& bytes) { return With_pictures({{"laser.pgm", bytes}}); };
    const std::string name_1023(1023, 'p');
    const Case cases[] = {
        {"a missing picture", With_pictures({}), nullptr, 2,
         {laser_line + "Can't open picture file 'laser.pgm': No such file or directory, ending...\n" + laser_advice}},
        {"a picture in a folder that does not exist",
         {{"tavrolinconfig.txt", scene::Config_text("nowhere/laser.pgm", "NODARK", default_numbers)},
          {"tavrolinpath.txt", good_path}},
         nullptr, 2,
         {laser_line + "Can't open picture file 'nowhere/laser.pgm': No such file or directory, ending...\n" + laser_advice}},
        {"a picture name of 1023 characters",
         {{"tavrolinconfig.txt", scene::Config_text(name_1023, "NODARK", default_numbers)},
          {"tavrolinpath.txt", good_path}},
         nullptr, 2,
         {config_line + "OK\n",
          laser_line + "Can't open picture file '" + name_1023 + "': File name too long, ending...\n" + laser_advice}},
        {"a folder where the picture should be", With_pictures({}),
         [](const std::string& folder) { Make_subfolder(folder + "/laser.pgm"); }, 2,
         {laser_line + "Can't open picture file 'laser.pgm': it is a directory, ending...\n" + laser_advice}},
        {"an empty configuration names no picture", {{"tavrolinconfig.txt", ""}, {"tavrolinpath.txt", good_path}},
         nullptr, 2, {laser_line + "Can't open picture file '': No such file or directory, ending...\n" + laser_advice}},
        {"an empty picture file", laser(""), nullptr, 2,
         {laser_line + "Identifier of the file: ''\nInput file laser.pgm is not a valid 16-bit PGM file, ending...\n" +
          not_p5_advice}},
        {"a plain-text greymap (P2)", laser("P2\n4 2\n65535\n1 2 3 4 5 6 7 8\n"), nullptr, 2,
         {"Identifier of the file: 'P2'\nInput file laser.pgm is not a valid 16-bit PGM file, ending...\n" +
          not_p5_advice}},
        {"a header with a comment line", laser("P5\n# made by hand\n6384 4224\n65535\n"), nullptr, 3,
         {opened + sizes("0", "0", "0") + not_16_bit + unread_header_advice}},
        {"a width of 2^31", laser("P5\n2147483648 4224\n65535\n"), nullptr, 3,
         {opened + sizes("2147483647", "0", "0") + not_16_bit + unread_header_advice}},
        {"an 8-bit picture of a full frame's size", laser("P5\n6384 4224\n255\n"), nullptr, 3,
         {opened + sizes("6384", "4224", "255") + not_16_bit + eight_bit_advice}},
        {"a height of 0", laser("P5\n6384 0\n65535\n"), nullptr, 2,
         {opened + sizes("6384", "0", "65535"),
          "Picture 'laser.pgm' has a size of 6384 x 0: both must be positive, ending...\n"}},
        {"a negative width", laser("P5\n-6384 4224\n65535\n"), nullptr, 2,
         {"Picture 'laser.pgm' has a size of -6384 x 4224: both must be positive, ending...\n"}},
        {"a width x height beyond 32 bits", laser("P5\n46342 46342\n65535\n"), nullptr, 2,
         {"Picture 'laser.pgm' is too large: 46342 x 46342 samples are more than 32-bit indices can reach, ending...\n"}},
        {"a forged 60000 x 60000 header in a tiny file", laser("P5\n60000 60000\n65535\n\x01\x02"), nullptr, 2,
         {"Picture 'laser.pgm' is too large: 60000 x 60000 samples are more than 32-bit indices can reach, ending...\n"}},
        {"a forged header of 2 gigasamples in a tiny file", laser("P5\n46340 46340\n65535\n\x01\x02\x03\x04"),
         nullptr, 2,
         {"Picture 'laser.pgm' is too large: 46340 x 46340 are 2147395600 samples, more than the limit of "
          "107864064 (four frames of the camera), ending...\n"}},
        // Decoded as garbage, exit 0, before: the data's first block is no JPEG stream.
        {"a DNG whose lossless JPEG data are no JPEG stream",
         With_pictures({{"laser.pgm", scene::Dng_directory_first(48, 32, [](int32_t x, int32_t y) {
                             return uint16_t(1000 + x + y);
                         }, true)}}),
         nullptr, 2,
         {laser_line + "Raw file 'laser.pgm' can't be decoded: its compression is lossless JPEG, but its data hold "
                       "no JPEG stream, ending...\n"}},
        {"a frame too narrow for the covered pixels", laser("P5\n6380 4224\n65535\n"), nullptr, 2,
         {"Picture 'laser.pgm' is too small: 6380 x 4224, but the covered pixels and the centre square "
          "need at least 6382 x 4222, ending...\n"}},
        {"a frame too low for the covered pixels", laser("P5\n6384 4220\n65535\n"), nullptr, 2,
         {"Picture 'laser.pgm' is too small: 6384 x 4220, but the covered pixels and the centre square "
          "need at least 6382 x 4222, ending...\n"}},
        {"an odd width", laser("P5\n6385 4224\n65535\n"), nullptr, 2,
         {"Picture 'laser.pgm' has a size of 6385 x 4224: the 2x2 colour cells need an even width and height, ending...\n"}},
        {"an odd height", laser("P5\n6384 4223\n65535\n"), nullptr, 2,
         {"Picture 'laser.pgm' has a size of 6384 x 4223: the 2x2 colour cells need an even width and height, ending...\n"}},
        {"truncated samples", laser("P5\n6384 4224\n65535\n" + std::string(1000, '\x08')), nullptr, 2,
         {"Reading image data from file...Picture 'laser.pgm' ends before its 26966016 samples, ending...\n"}},
        {"a header without the separator and samples", laser("P5\n6384 4224\n65535"), nullptr, 2,
         {"Reading image data from file...Picture 'laser.pgm' ends before its 26966016 samples, ending...\n"}},
        {"a centre square below the frame",
         {{"tavrolinconfig.txt", Config("500 10 30 1 0 10000 4266 3231 2139 2052")},
          {"tavrolinpath.txt", good_path},
          {"laser.pgm", "P5\n6384 4224\n65535\n"}},
         nullptr, 2,
         {"Picture 'laser.pgm' is too small: 6384 x 4224, but the covered pixels and the centre square "
          "need at least 6382 x 4266, ending...\n"}},
        {"a centre square above the frame",
         {{"tavrolinconfig.txt", Config("500 10 30 1 0 10000 7000 3231 2139 2052")},
          {"tavrolinpath.txt", good_path},
          {"laser.pgm", "P5\n6384 4224\n65535\n"}},
         nullptr, 2,
         {"Picture 'laser.pgm' can't hold the centre square of 7000 pixels (parameter center_size), ending...\n"}},
    };
    for (const Case& c : cases) Check(c);
}

// Dark pictures are read after a whole laser frame.
TEST(BadInput, DarkPictureRefused)
{
    const std::string not_valid = "Input file dark.pgm is not a valid 16-bit PGM file, ending...\n";
    auto dark = [](const std::string& bytes) { return With_pictures({{"dark.pgm", bytes}}, "dark.pgm"); };
    const Case cases[] = {
        {"a missing dark picture", With_pictures({}, "dark.pgm"), Frame_as("laser.pgm"), 2,
         {"Reading image data from file...OK\n",
          dark_line + "Can't open picture file 'dark.pgm': No such file or directory, ending...\n" + dark_advice}},
        {"a folder where the dark picture should be", With_pictures({}, "dark.pgm"),
         [](const std::string& folder) {
             Link_frame(folder, "laser.pgm");
             Make_subfolder(folder + "/dark.pgm");
         },
         2, {dark_line + "Can't open picture file 'dark.pgm': it is a directory, ending...\n" + dark_advice}},
        {"a colour dark picture", dark("P6\n6384 4224\n255\n"), Frame_as("laser.pgm"), 2,
         {dark_line + "Identifier of the file: 'P6'\n" + not_valid + not_p5_advice}},
        {"an 8-bit dark picture", dark("P5\n6384 4224\n255\n"), Frame_as("laser.pgm"), 3,
         {dark_line + "\ndark.pgm file was opened succesfully...\nHorizontal size: 6384\n"
                      "Vertical size:   4224\nNumber of brightness levels:   255\n"
                      "PGM file has not a 16-bit brightness encoding, ending...\n" + eight_bit_advice}},
        {"a dark picture of another size", dark("P5\n6382 4222\n65535\n" + std::string(64, '\0')),
         Frame_as("laser.pgm"), 2,
         {"Background picture 'dark.pgm' is 6382 x 4222, but the laser picture is 6384 x 4224, ending...\n"}},
        {"truncated dark samples", dark("P5\n6384 4224\n65535\n" + std::string(4096, '\x08')),
         Frame_as("laser.pgm"), 2,
         {"Number of brightness levels:   65535\n",
          "Picture 'dark.pgm' ends before its 26966016 samples, ending...\n"}},
    };
    for (const Case& c : cases) Check(c);
}

// A valid scene, with CR LF line ends in both text files, and runs whose beam
// leaves the picture: neither product may be written then.
TEST(BadInput, WholeFrameScenes)
{
    const std::string crlf_config =
        "laser.pgm\r\nNODARK\r\n500\r\n10\r\n30\r\n1\r\n0\r\n10000\r\n0\r\n3231\r\n2139\r\n2052\r\n";
    auto scene_with_path = [](const std::string& path) {
        return Files{{"tavrolinconfig.txt", Config(default_numbers)}, {"tavrolinpath.txt", path}};
    };
    const Case cases[] = {
        {"CR LF line ends in the configuration and path files, no centre square",
         {{"tavrolinconfig.txt", crlf_config}, {"tavrolinpath.txt", "3100 1000\r\n3300 3000\r\n"}},
         Frame_as("laser.pgm"), 0,
         {config_line + "OK\n" + path_line + "2 points read\n",
          "Average levels in the centre of picture: R = 0 G = 0 B = 0\n",
          "Writing new 'linearlyscaledG.PGM' file...OK\n",
          "Extracting tavrolin data into 'tavrolin_data.txt' file...\n", "\nOK\n"},
         Product::replaced, Product::replaced},
        {"a path below the picture", scene_with_path("3000 4000\n3000 4300\n"), Frame_as("laser.pgm"), 5,
         {"High-level-limit of 10000 applied.\n",
          "The beam path in 'tavrolinpath.txt' reaches row 4224, outside the picture's rows 0 to 4223, ending...\n"}},
        {"a path above the picture", scene_with_path("3000 -100\n3000 100\n"), Frame_as("laser.pgm"), 5,
         {"The beam path in 'tavrolinpath.txt' reaches row -100, outside the picture's rows 0 to 4223, ending...\n"}},
        {"beam bands across the left edge", scene_with_path("10 1000\n10 1100\n"), Frame_as("laser.pgm"), 5,
         {"The beam bands on row 1000 reach columns -20 to 40, outside the picture's columns 0 to 6383 "
          "(path in 'tavrolinpath.txt', band width and side scale in 'tavrolinconfig.txt'), ending...\n"}},
        {"side bands across the right edge",
         {{"tavrolinconfig.txt", Config("500 10 30 20 0 10000 100 3231 2139 2052")},
          {"tavrolinpath.txt", "6000 1000\n6000 1100\n"}},
         Frame_as("laser.pgm"), 5,
         {"The beam bands on row 1000 reach columns 5400 to 6600, outside",
          "(path in 'tavrolinpath.txt', band width and side scale in 'tavrolinconfig.txt'), ending...\n"}},
    };
    for (const Case& c : cases) Check(c);
}

// A product that can't be written is reported on its stage's line, with the system's
// reason on the next, the run goes on, ends with code 6, and the earlier product
// stays as it was.
TEST(BadInput, ProductsThatCannotBeWritten)
{
    const std::string picture_failed = "Writing new 'linearlyscaledG.PGM' file...Can't write to 'linearlyscaledG.PGM' - file\n";
    const std::string in_the_way = "The system's reason: Is a directory (something that is not a file stands "
                                   "in the product's place: move it away)\n";
    const std::string table_line = "Extracting tavrolin data into 'tavrolin_data.txt' file...";
    const Case cases[] = {
        // The laser frame as its own dark picture: no net signal, a scaling coefficient
        // of 0, and a table of the quotients by 0, written all the same.
        {"a folder in place of the picture", With_pictures({}, "laser.pgm"),
         [](const std::string& folder) {
             Link_frame(folder, "laser.pgm");
             Folder_in_place_of(picture_name)(folder);
         },
         6, {dark_line + "\nlaser.pgm file was opened succesfully...\n", picture_failed + in_the_way,
             table_line + "\nScaling coefficient (scattering angle = 90 deg) = 0 ", "\nOK\n"},
         Product::folder, Product::replaced},
        {"a folder in place of the table", With_pictures({}),
         [](const std::string& folder) {
             Link_frame(folder, "laser.pgm");
             Folder_in_place_of(table_name)(folder);
         },
         6, {"Writing new 'linearlyscaledG.PGM' file...OK\n",
             table_line + "Can't write to 'tavrolin_data.txt' - file\n" + in_the_way},
         Product::replaced, Product::folder},
    };
    for (const Case& c : cases) Check(c);
}

TEST(BadInput, ProductsWriteProtected)
{
    if (geteuid() == 0) GTEST_SKIP() << "the superuser writes whatever the permissions";
    const std::string table_line = "Extracting tavrolin data into 'tavrolin_data.txt' file...";
    const std::string denied = "The system's reason: Permission denied (run tavrolin in a folder you can "
                               "write to, or allow writing there)\n";
    const Case read_only = {
        "a read-only folder", With_pictures({}),
        [](const std::string& folder) {
            Link_frame(folder, "laser.pgm");
            ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
        },
        6,
        {"Writing new 'linearlyscaledG.PGM' file...Can't write to 'linearlyscaledG.PGM' - file\n" + denied,
         table_line + "Can't write to 'tavrolin_data.txt' - file\n" + denied}};
    Check(read_only);

    const Case protected_table = {
        "a write-protected table", With_pictures({}),
        [](const std::string& folder) {
            Link_frame(folder, "laser.pgm");
            ASSERT_EQ(chmod((folder + "/" + table_name).c_str(), 0444), 0);
        },
        6,
        {"Writing new 'linearlyscaledG.PGM' file...OK\n",
         table_line + "Can't write to 'tavrolin_data.txt' - file\n" + denied},
        Product::replaced, Product::kept};
    Check(protected_table);
}

// A named pipe of that name in the folder: nobody ever writes to it.
std::function<void(const std::string&)> Fifo_as(const std::string& name)
{
    return [name](const std::string& folder) { ASSERT_EQ(mkfifo((folder + "/" + name).c_str(), 0644), 0); };
}

// A symbolic link of that name to `target`.
std::function<void(const std::string&)> Link_as(const std::string& name, const std::string& target)
{
    return [name, target](const std::string& folder) {
        ASSERT_EQ(symlink(target.c_str(), (folder + "/" + name).c_str()), 0);
    };
}

// A sparse file: `start`, then NUL bytes up to `size` bytes, which take no disk space.
std::function<void(const std::string&)> Sparse_as(const std::string& name, const std::string& start, off_t size)
{
    return [name, start, size](const std::string& folder) {
        const std::string path = folder + "/" + name;
        scene::Write_file(path, start);
        ASSERT_EQ(truncate(path.c_str(), size), 0);
    };
}

std::function<void(const std::string&)> Both(std::function<void(const std::string&)> first,
                                             std::function<void(const std::string&)> second)
{
    return [first, second](const std::string& folder) {
        first(folder);
        second(folder);
    };
}

const off_t gigabyte = off_t{1} << 30;

// Inputs that would hold the run in its open or feed it without end, and tokens of
// any length: each is refused at once, having read at most a token's bound.
TEST(BadInput, InputsThatWouldBlockOrNeverEnd)
{
    const std::string config = Config(default_numbers);
    const std::string pipe_refused = ": it is a named pipe, not a regular file, ending...\n";
    const std::string device_refused = ": it is a character device, not a regular file, ending...\n";
    const std::string path_read = config_line + "OK\n" + path_line + "2 points read\n";
    const std::string digits(20000000, '7');
    std::string nul_name = Config(default_numbers);
    nul_name[5] = '\0';   // "laser\0pgm": a name the system would cut at the NUL
    const Case cases[] = {
        {"a named pipe as configuration file", {{"tavrolinpath.txt", good_path}}, Fifo_as("tavrolinconfig.txt"), 4,
         {config_line + "Can't read config file 'tavrolinconfig.txt'" + pipe_refused + folder_advice}},
        {"the configuration file a link to /dev/zero", {{"tavrolinpath.txt", good_path}},
         Link_as("tavrolinconfig.txt", "/dev/zero"), 4,
         {config_line + "Can't read config file 'tavrolinconfig.txt'" + device_refused + folder_advice}},
        {"a named pipe as path file", {{"tavrolinconfig.txt", config}}, Fifo_as("tavrolinpath.txt"), 5,
         {config_line + "OK\n" + path_line + "Can't read path-file 'tavrolinpath.txt'" + pipe_refused + path_advice}},
        {"the path file a link to /dev/zero", {{"tavrolinconfig.txt", config}},
         Link_as("tavrolinpath.txt", "/dev/zero"), 5,
         {path_line + "Can't read path-file 'tavrolinpath.txt'" + device_refused + path_advice}},
        {"a named pipe as laser picture", With_pictures({}), Fifo_as("laser.pgm"), 2,
         {path_read + laser_line + "Can't open picture file 'laser.pgm'" + pipe_refused + laser_advice}},
        {"the laser picture a link to /dev/zero", With_pictures({}), Link_as("laser.pgm", "/dev/zero"), 2,
         {laser_line + "Can't open picture file 'laser.pgm'" + device_refused + laser_advice}},
        {"a named pipe as dark picture", With_pictures({}, "dark.pgm"),
         Both(Frame_as("laser.pgm"), Fifo_as("dark.pgm")), 2,
         {"Reading image data from file...OK\n", dark_line + "Can't open picture file 'dark.pgm'" + pipe_refused + dark_advice}},
        {"a configuration file of a gigabyte of NUL bytes", {{"tavrolinpath.txt", good_path}},
         Sparse_as("tavrolinconfig.txt", "", gigabyte), 4,
         {Config_refusal("Can't read parameter 1 (filename) from 'tavrolinconfig.txt': it holds a NUL byte "
                         "(byte 1 of the file), not text")}},
        {"a NUL byte in the laser picture's name", {{"tavrolinconfig.txt", nul_name}, {"tavrolinpath.txt", good_path}},
         nullptr, 4,
         {Config_refusal("Can't read parameter 1 (filename) from 'tavrolinconfig.txt': it holds a NUL byte "
                         "(byte 6 of the file), not text")}},
        {"a number of 20 million digits", {{"tavrolinconfig.txt", "laser.pgm NODARK 500 " + digits},
                                           {"tavrolinpath.txt", good_path}},
         nullptr, 4,
         {Config_refusal("Can't read parameter 4 (elevation) from 'tavrolinconfig.txt': '" + std::string(40, '7') +
                         "...' has more than 64 characters")}},
        {"a file name of a gigabyte", {{"tavrolinpath.txt", good_path}},
         [](const std::string& folder) {
             const std::string path = folder + "/tavrolinconfig.txt";
             scene::Write_file(path, std::string(2000, 'n'));
             ASSERT_EQ(truncate(path.c_str(), gigabyte), 0);   // the name goes on in NUL bytes
         },
         4,
         {Config_refusal("Parameter 1 (filename) in 'tavrolinconfig.txt' is a file name of more than 1023 "
                         "characters ('" + std::string(40, 'n') + "...'); at most 1023 are allowed")}},
        {"terminal escape sequences in a number", {{"tavrolinconfig.txt", "laser.pgm NODARK \x1b[2J\x1b]0;x\x07"},
                                                   {"tavrolinpath.txt", good_path}},
         nullptr, 4,
         {Config_refusal("Can't read parameter 3 (laserdistance) from 'tavrolinconfig.txt': '\\x1B[2J\\x1B]0;x\\x07'")}},
        {"a path file of a gigabyte of NUL bytes after a point", {{"tavrolinconfig.txt", config}},
         Sparse_as("tavrolinpath.txt", "3100 1000\n", gigabyte), 5,
         {path_line + "Can't read a path coordinate from 'tavrolinpath.txt': token 3 of the file "
                      "holds a NUL byte (byte 11 of the file), not text, ending...\n" + path_advice}},
        {"a path coordinate of 20 million digits", {{"tavrolinconfig.txt", config}, {"tavrolinpath.txt", "1 " + digits}},
         nullptr, 5,
         {path_line + "Can't read a path coordinate from 'tavrolinpath.txt': '" + std::string(40, '7') +
          "...' (token 2 of the file) has more than 64 characters, ending...\n" + path_advice}},
        // An editor's byte-order mark is not part of the first token.
        {"byte-order marks before the configuration and the path",
         {{"tavrolinconfig.txt", "\xEF\xBB\xBF" + config}, {"tavrolinpath.txt", "\xEF\xBB\xBF" + good_path}}, nullptr, 2,
         {path_read + laser_line + "Can't open picture file 'laser.pgm': No such file or directory, ending...\n" + laser_advice}},
    };
    for (const Case& c : cases) Check(c);
}

// Headers of frames far beyond the camera's are refused before anything is
// allocated; a plane there is no memory for ends the run with a message, not an abort.
TEST(BadInput, FramesNoCameraMakes)
{
    auto header = [](int64_t width, int64_t height) {
        return "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n65535\n";
    };
    auto whole_file = [&](int64_t width, int64_t height) {
        return Sparse_as("laser.pgm", header(width, height), off_t(header(width, height).size()) + 2 * width * height);
    };
    std::vector<Case> cases = {
        {"a sparse frame of 46340 x 46340 samples, every byte there", With_pictures({}), whole_file(46340, 46340), 2,
         {"Number of brightness levels:   65535\n",
          "Picture 'laser.pgm' is too large: 46340 x 46340 are 2147395600 samples, more than the limit of "
          "107864064 (four frames of the camera), ending...\n"}},
        {"a frame two rows beyond four camera frames", With_pictures({}), whole_file(6384, 16898), 2,
         {"Picture 'laser.pgm' is too large: 6384 x 16898 are 107876832 samples, more than the limit of "
          "107864064 (four frames of the camera), ending...\n"}},
    };
#if !defined(TAVROLIN_ADDRESS_SANITIZER)   // the sanitizers' shadow memory needs more address space than any limit
    cases.push_back({"four camera frames with 160 MB of address space", With_pictures({}), whole_file(6384, 16896), 2,
                     {"Reading image data from file...not enough memory for picture 'laser.pgm' (107864064 samples "
                      "of 2 bytes), ending...\n"},
                     Product::kept, Product::kept, Memory_limit(160u << 20)});
    // A raw file that can't be held for want of memory was called no valid 16-bit PGM.
    cases.push_back({"a raw file larger than the address space", With_pictures({}),
                     Sparse_as("laser.pgm", scene::Dng_directory_first(48, 32, [](int32_t, int32_t) {
                                   return uint16_t(2048);
                               }), off_t{1} << 30),
                     2, {laser_line + "not enough memory for picture 'laser.pgm' (1073741824 bytes), ending...\n"}});
#endif
    for (const Case& c : cases) Check(c);
}

#if !defined(TAVROLIN_ADDRESS_SANITIZER)   // the sanitizer's own operator new can't be replaced
// Memory that runs out at any allocation of 1 kB or more of a whole run, one after
// another, the picture planes read or not, and at each of the first small ones (the
// settings' tokens): the run ends with code 2 and says "not enough memory", no
// temporary product is left, and each earlier product is either as it was or a whole
// new one. (A reader took it for a bad token, code 4.) Memory that runs out before the
// run begins, while the program's constants are made, is left out: the banner is not
// shown then.
TEST(BadInput, OutOfMemoryAnywhereEndedAsABadTokenOrAnAbort)
{
    const std::string folder = scene::Make_folder();
    for (const auto& file : With_pictures({})) scene::Write_file(folder + "/" + file.first, file.second);
    Link_frame(folder, "laser.pgm");
    Interference counting;
    counting.allocations_file = folder + "/.allocations";
    ASSERT_EQ(Run_with(folder, counting).exit_code, 0);
    const long allocations = std::atol(scene::Read_file(counting.allocations_file).c_str());
    ASSERT_GT(allocations, 10);   // the instrument counts: the planes and the products are among them
    bool products_written = false;
    for (long n = 1; n <= allocations + 60; ++n) {
        Interference failing;
        failing.failing_allocation = n <= allocations ? n : n - allocations;
        if (n > allocations) failing.counted_bytes = "1";
        SCOPED_TRACE("allocation " + std::to_string(failing.failing_allocation) + " of those of " +
                     failing.counted_bytes + " bytes or more");
        scene::Write_file(folder + "/" + picture_name, earlier_picture);
        scene::Write_file(folder + "/" + table_name, earlier_table);
        const scene::RunResult result = Run_with(folder, failing);
        const bool begun = result.console.find("Program TAVROLIN") != std::string::npos;
        if (n > allocations && !begun) continue;   // out of memory before the run began
        EXPECT_EQ(result.exit_code, 2) << result.console;
        EXPECT_NE(result.console.find("not enough memory"), std::string::npos) << result.console;
        const std::string picture = scene::Read_file(folder + "/" + picture_name);
        EXPECT_TRUE(picture == earlier_picture || picture.size() == 19 + size_t{2} * 6384 * 4224) << picture.size();
        products_written = products_written || picture != earlier_picture;
        EXPECT_EQ(scene::Read_file(folder + "/" + table_name), earlier_table);
        for (const std::string& name : Entries(folder)) {
            EXPECT_NE(name.rfind(picture_name + ".", 0), 0u) << "left behind: " << name;
            EXPECT_NE(name.rfind(table_name + ".", 0), 0u) << "left behind: " << name;
        }
    }
    EXPECT_TRUE(products_written);   // some allocations failed after the corrected picture was written
    scene::Remove_folder(folder);
}
#endif

// Settings that no set-up can have: the laser distance and the elevation at the
// configuration stage, the image circle right after the laser picture's header.
TEST(BadInput, SettingsNoSetUpCanHave)
{
    auto config_case = [](const char* what, const std::string& numbers, const std::string& message) {
        return Case{what, {{"tavrolinconfig.txt", Config(numbers)}, {"tavrolinpath.txt", good_path}}, nullptr, 4,
                    {Config_refusal(message)}};
    };
    auto picture_case = [](const char* what, const std::string& numbers, const std::string& message) {
        return Case{what,
                    {{"tavrolinconfig.txt", Config(numbers)},
                     {"tavrolinpath.txt", good_path},
                     {"laser.pgm", "P5\n6384 4224\n65535\n"}},
                    nullptr,
                    4,
                    {"laser.pgm file was opened succesfully...\nHorizontal size: 6384\nVertical size:   4224\n"
                     "Number of brightness levels:   65535\n" + message + ", ending...\n"}};
    };
    const Case cases[] = {
        config_case("a laser distance of 0", "0 10",
                    "Parameter 3 (laserdistance) in 'tavrolinconfig.txt' must be greater than 0, not 0"),
        config_case("a negative laser distance", "-500 10",
                    "Parameter 3 (laserdistance) in 'tavrolinconfig.txt' must be greater than 0, not -500"),
        config_case("an elevation of 180 degrees", "500 180",
                    "Parameter 4 (elevation) in 'tavrolinconfig.txt' must be greater than -180 and less than "
                    "180 (degrees), not 180"),
        config_case("an elevation of -200 degrees", "500 -200",
                    "Parameter 4 (elevation) in 'tavrolinconfig.txt' must be greater than -180 and less than "
                    "180 (degrees), not -200"),
        picture_case("an image centre column far outside", "500 10 30 1 0 10000 100 2147483647 2139 2052",
                     "Parameter 10 (xcentre) in 'tavrolinconfig.txt' must be a column of the picture 'laser.pgm', "
                     "0 to 6383, not 2147483647"),
        picture_case("an image centre row above the picture", "500 10 30 1 0 10000 100 3231 -1 2052",
                     "Parameter 11 (ycentre) in 'tavrolinconfig.txt' must be a row of the picture 'laser.pgm', "
                     "0 to 4223, not -1"),
        picture_case("an image circle beyond the diagonal", "500 10 30 1 0 10000 100 3231 2139 100000",
                     "Parameter 12 (rmax) in 'tavrolinconfig.txt' must be at most the diagonal of the picture "
                     "'laser.pgm', 7654 pixels, not 100000"),
    };
    for (const Case& c : cases) Check(c);
}

// Runs interrupted while a product is written (held at its complete temporary
// file), a file-size limit, and a console that went away: no temporary file is left,
// and an earlier product is either whole as it was or replaced by a whole new one.
TEST(BadInput, InterruptedRuns)
{
    const std::string writing = "Writing new 'linearlyscaledG.PGM' file...";
    const std::string table_line = "Extracting tavrolin data into 'tavrolin_data.txt' file...";
    const std::string picture_changed = "\nA picture file changed (was truncated) while it was being read, ending...\n";
    const Case cases[] = {
        {"SIGINT while the picture is written", With_pictures({}), Frame_as("laser.pgm"), 128 + SIGINT,
         {"High-level-limit of 10000 applied.\n" + writing}, Product::kept, Product::kept,
         Held_at("linearlyscaledG.PGM", SIGINT)},
        {"SIGTERM while the picture is written", With_pictures({}), Frame_as("laser.pgm"), 128 + SIGTERM,
         {writing}, Product::kept, Product::kept, Held_at("linearlyscaledG.PGM", SIGTERM)},
        {"SIGHUP while the picture is written", With_pictures({}), Frame_as("laser.pgm"), 128 + SIGHUP,
         {writing}, Product::kept, Product::kept, Held_at("linearlyscaledG.PGM", SIGHUP)},
        {"SIGBUS while the picture is written", With_pictures({}), Frame_as("laser.pgm"), 128 + SIGBUS,
         {writing + picture_changed}, Product::kept, Product::kept, Held_at("linearlyscaledG.PGM", SIGBUS)},
        {"SIGTERM while the table is written", With_pictures({}), Frame_as("laser.pgm"), 128 + SIGTERM,
         {writing + "OK\n" + table_line + "\nScaling coefficient (scattering angle = 90 deg) = ", "\n"},
         Product::replaced, Product::kept,
         Held_at("tavrolin_data.txt", SIGTERM)},
        // SIGXFSZ is ignored: the write fails, and the run reports it with the system's reason.
        {"a file-size limit of 1 MB", With_pictures({}), Frame_as("laser.pgm"), 6,
         {writing + "Can't write to 'linearlyscaledG.PGM' - file\n" +
              "The system's reason: File too large (a limit on the file size, see 'ulimit -f', "
              "is below the product's size)\n",
          table_line, "\nOK\n"},
         Product::kept, Product::replaced, File_size_limit(1u << 20)},
        // SIGPIPE is ignored: the console's writes fail, the products are written.
        {"a console whose reader went away", With_pictures({}), Frame_as("laser.pgm"), 0, {}, Product::replaced,
         Product::replaced, Console_gone()},
    };
    for (const Case& c : cases) Check(c);
}

// The products of a run whose console went away are those of a run that shows it.
TEST(BadInput, ConsoleThatWentAwayChangesNoProduct)
{
    std::string products[2][2];
    for (int gone = 0; gone < 2; ++gone) {
        const std::string folder = scene::Make_folder();
        for (const auto& file : With_pictures({})) scene::Write_file(folder + "/" + file.first, file.second);
        Link_frame(folder, "laser.pgm");
        const scene::RunResult result = Run_with(folder, gone ? Console_gone() : Interference{});
        EXPECT_EQ(result.exit_code, 0) << result.console;
        products[gone][0] = scene::Read_file(folder + "/" + picture_name);
        products[gone][1] = scene::Read_file(folder + "/" + table_name);
        scene::Remove_folder(folder);
    }
    EXPECT_GT(products[0][0].size(), 50000000u);
    EXPECT_GT(products[0][1].size(), 1000u);
    EXPECT_TRUE(products[1][0] == products[0][0]) << "the picture differs";
    EXPECT_EQ(products[1][1], products[0][1]);
}

}  // namespace
