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
    std::string samples;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            samples.push_back(char(sample(x, y) & 0xFF));
            samples.push_back(char(sample(x, y) >> 8));
        }
    }
    return Dng_with_strip(width, height, samples, lossless_jpeg ? 7 : 1);
}

void Put_le32(std::string& to, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) to.push_back(char(value >> shift & 0xFF));
}

std::string Tiff_directory(const std::vector<std::array<uint32_t, 4>>& entries)
{
    std::string file("II*\0\x08\0\0\0", 8);
    const auto put16 = [&](uint32_t v) {
        file.push_back(char(v & 0xFF));
        file.push_back(char(v >> 8 & 0xFF));
    };
    put16(uint32_t(entries.size()));
    for (const auto& entry : entries) {
        put16(entry[0]);
        put16(entry[1]);
        Put_le32(file, entry[2]);
        Put_le32(file, entry[3]);
    }
    Put_le32(file, 0);
    return file;
}

std::string Dng_with_strip(int32_t width, int32_t height, const std::string& strip, uint16_t compression)
{
    const std::string text = std::string("TAVROLIN\0test\0\0", 16);   // Make, Model (padded)
    constexpr uint32_t entries = 15;
    const uint32_t text_at = 8 + 2 + entries * 12 + 4;
    const uint32_t samples_at = text_at + uint32_t(text.size());
    const std::string file = Tiff_directory({
        {254, 4, 1, 0}, {256, 4, 1, uint32_t(width)}, {257, 4, 1, uint32_t(height)},
        {258, 3, 1, 16}, {259, 3, 1, compression}, {262, 3, 1, 32803},   // CFA
        {271, 2, 9, text_at}, {272, 2, 5, text_at + 9}, {273, 4, 1, samples_at},
        {277, 3, 1, 1}, {278, 4, 1, uint32_t(height)}, {279, 4, 1, uint32_t(strip.size())},
        {33421, 3, 2, 2 | 2 << 16}, {33422, 1, 4, 0 | 1 << 8 | 1 << 16 | 2 << 24},
        {50706, 1, 4, 1 | 4 << 8}});   // DNG 1.4
    return file + text + strip;
}

LosslessJpeg Lossless_jpeg(int32_t width, int32_t height, const std::function<uint16_t(int32_t, int32_t)>& sample)
{
    LosslessJpeg jpeg;
    const auto put16 = [](std::string& to, uint32_t v) {
        to.push_back(char(v >> 8 & 0xFF));
        to.push_back(char(v & 0xFF));
    };
    std::string& h = jpeg.header;
    h = "\xFF\xD8\xFF\xC4";   // the Huffman table: 17 codes of 5 bits, code k for size k
    put16(h, 2 + 1 + 16 + 17);
    h.push_back('\0');
    for (int length = 1; length <= 16; ++length) h.push_back(char(length == 5 ? 17 : 0));
    for (char size = 0; size <= 16; ++size) h.push_back(size);
    h += "\xFF\xC3";            // the frame: 16 bits, height, width, one component
    put16(h, 11);
    h.push_back(16);
    put16(h, uint32_t(height));
    put16(h, uint32_t(width));
    h += std::string("\x01\x01\x11\x00", 4);
    h += "\xFF\xDA";            // the scan: component 1, table 0, predictor 1
    put16(h, 8);
    h += std::string("\x01\x01\x00\x01\x00\x00", 6);

    uint64_t bits = 0;
    int count = 0;
    const auto put_bits = [&](uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) {
            bits = bits << 1 | (value >> i & 1);
            if (++count == 8) {
                jpeg.entropy.push_back(char(bits & 0xFF));
                if ((bits & 0xFF) == 0xFF) jpeg.entropy.push_back('\0');
                bits = count = 0;
            }
        }
    };
    int32_t first_of_row = 1 << 15;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t predicted = x == 0 ? first_of_row : int32_t(sample(x - 1, y));
            int32_t difference = int32_t(sample(x, y)) - predicted;
            if (difference > 32767) difference -= 65536;
            if (difference < -32768) difference += 65536;
            int size = 0;
            while (size < 16 && (std::abs(difference) >> size) != 0) ++size;
            put_bits(uint32_t(size), 5);
            if (size > 0 && size < 16) put_bits(uint32_t(difference < 0 ? difference - 1 : difference), size);
            if (x == 0) first_of_row = sample(0, y);
        }
    }
    if (count > 0) put_bits(0x7F, 8 - count);   // padded with 1 bits
    return jpeg;
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
