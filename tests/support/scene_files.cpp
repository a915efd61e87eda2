#include "support/scene_files.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace scene {

const char* const banner =
    "Program TAVROLIN analyses the laser beam brightness from 16-bit PGM files \n"
    "(can be created from RAW files using free DCRAW software).\n"
    "Input PGM filename(s) and other parameters are read from 'tavrolinconfig.txt' file.\n"
    "The path of the laser beam is read from 'tavrolinpath.txt' file.\n"
    "The PGM file can be obtained from RAW file using DCRAW:\n"
    "DCRAW -E -4 -W -j -t 0 <input RAW filename>\n"
    "For visual check it is possible to obtain identical TIFF file:\n"
    "DCRAW -E -4 -W -j -t 0 -T <input RAW filename>\n"
    "\n";

std::string Make_folder()
{
    char pattern[] = "/tmp/tavrolin_test_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void Remove_folder(const std::string& folder)
{
    const std::string command = "chmod -R u+w '" + folder + "' 2>/dev/null; rm -rf '" + folder + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("can't remove " + folder);
}

void Write_pgm(const std::string& path, int32_t width, int32_t height,
               const std::function<uint16_t(int32_t, int32_t)>& sample)
{
    std::string bytes = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n65535\n";
    const size_t header = bytes.size();
    bytes.resize(header + 2 * size_t(width) * size_t(height));
    size_t at = header;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint16_t s = sample(x, y);
            bytes[at++] = static_cast<char>(s >> 8);
            bytes[at++] = static_cast<char>(s & 0xFF);
        }
    }
    Write_file(path, bytes);
}

std::string Dng_directory_first(int32_t width, int32_t height,
                                const std::function<uint16_t(int32_t, int32_t)>& sample, bool lossless_jpeg)
{
    std::string file("II*\0\x08\0\0\0", 8);
    const auto put16 = [&](uint32_t v) {
        file.push_back(char(v & 0xFF));
        file.push_back(char(v >> 8 & 0xFF));
    };
    const auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    const std::string text = std::string("TAVROLIN\0test\0\0", 16);   // Make, Model (padded)
    constexpr uint32_t entries = 15;
    const uint32_t text_at = 8 + 2 + entries * 12 + 4;
    const uint32_t samples_at = text_at + uint32_t(text.size());
    const uint32_t samples_size = 2 * uint32_t(width) * uint32_t(height);
    put16(entries);
    const uint32_t directory[entries][4] = {
        {254, 4, 1, 0}, {256, 4, 1, uint32_t(width)}, {257, 4, 1, uint32_t(height)},
        {258, 3, 1, 16}, {259, 3, 1, lossless_jpeg ? 7u : 1u}, {262, 3, 1, 32803},   // CFA
        {271, 2, 9, text_at}, {272, 2, 5, text_at + 9}, {273, 4, 1, samples_at},
        {277, 3, 1, 1}, {278, 4, 1, uint32_t(height)}, {279, 4, 1, samples_size},
        {33421, 3, 2, 2 | 2 << 16}, {33422, 1, 4, 0 | 1 << 8 | 1 << 16 | 2 << 24},
        {50706, 1, 4, 1 | 4 << 8}};   // DNG 1.4
    for (const auto& entry : directory) {
        put16(entry[0]);
        put16(entry[1]);
        put32(entry[2]);
        put32(entry[3]);
    }
    put32(0);
    file += text;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) put16(sample(x, y));
    }
    return file;
}

void Write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("can't write " + path);
}

std::string Read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string Config_text(const std::string& laser, const std::string& dark,
                        const std::string& numbers)
{
    return laser + " " + dark + " " + numbers + "\n";
}

std::string Path_text(const std::vector<std::pair<int32_t, int32_t>>& points)
{
    std::string text;
    for (const auto& p : points) text += std::to_string(p.first) + " " + std::to_string(p.second) + "\n";
    return text;
}

RunResult Run(const std::string& program, const std::string& folder)
{
    const std::string command =
        "cd '" + folder + "' && '" + program + "' < /dev/null 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("can't run " + program);
    std::string console;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) console.append(buffer, got);
    const int status = pclose(pipe);
    return RunResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, console};
}

}  // namespace scene
