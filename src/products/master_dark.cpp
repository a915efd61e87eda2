#include "products/master_dark.h"

#include <algorithm>
#include <cstdio>
#include <istream>
#include <memory>

#include "driver/signals.h"
#include "input/input_file.h"
#include "input/pgm.h"
#include "products/output_file.h"

namespace {

// An open dark picture, positioned at its first sample.
struct DarkFile {
    std::string name;
    InputFile file;   // a regular file only, opened without waiting
    std::istream stream{&file};
    int32_t width = 0;
    int32_t height = 0;
};

// Opens a dark picture and reads its header; an empty text, or the reason.
std::string Open_dark(DarkFile& dark)
{
    std::string reason;
    bool not_regular = false;
    if (!dark.file.Open(dark.name, reason, not_regular)) {
        return "Can't open dark picture '" + dark.name + "': " + reason;
    }
    std::string identifier;
    if (!Read_pgm_identifier(dark.stream, identifier)) {
        return "Dark picture '" + dark.name + "' is not a binary PGM (identifier '" + identifier +
               "', expected 'P5')";
    }
    int32_t maxval = 0;
    Read_pgm_header(dark.stream, dark.width, dark.height, maxval);
    if (maxval != 65535) {
        return "Dark picture '" + dark.name + "' has a maximum value of " + std::to_string(maxval) +
               ", not 65535 (16-bit)";
    }
    if (dark.width <= 0 || dark.height <= 0 ||
        int64_t{dark.width} * dark.height > int64_t{1} << 31) {
        return "Dark picture '" + dark.name + "' has a size of " + std::to_string(dark.width) +
               " x " + std::to_string(dark.height) + " that can't be processed";
    }
    // The single separator after the maximum value, then the samples must all be there.
    dark.stream.get();
    const std::streampos start = dark.stream.tellg();
    dark.stream.seekg(0, std::ios::end);
    const std::streampos end = dark.stream.tellg();
    dark.stream.seekg(start);
    const uint64_t count = uint64_t(dark.width) * uint64_t(dark.height);
    if (!dark.stream || start < 0 || end < start || uint64_t(end - start) / 2 < count) {
        return "Dark picture '" + dark.name + "' ends before its " + std::to_string(count) +
               " samples";
    }
    return std::string();
}

// Reads `count` big-endian samples of `dark` into `samples`; false when they are not there.
bool Read_block(DarkFile& dark, size_t count, std::vector<uint16_t>& samples)
{
    std::vector<unsigned char> bytes(2 * count);
    dark.stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<size_t>(dark.stream.gcount()) != bytes.size()) return false;
    samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    }
    return true;
}

}  // namespace

void Median_of_samples(const std::vector<const uint16_t*>& samples, size_t count, uint16_t* median)
{
    const size_t n = samples.size();
    std::vector<uint16_t> pixel(n);
    for (size_t i = 0; i < count; ++i) {
        for (size_t d = 0; d < n; ++d) pixel[d] = samples[d][i];
        std::nth_element(pixel.begin(), pixel.begin() + static_cast<ptrdiff_t>(n / 2), pixel.end());
        median[i] = pixel[n / 2];
    }
}

std::string Write_master_dark(const std::vector<std::string>& names, const std::string& output,
                              int32_t block_rows)
{
    if (names.empty()) return "No dark picture to combine";
    std::vector<std::unique_ptr<DarkFile>> darks;
    for (const std::string& name : names) {
        darks.push_back(std::make_unique<DarkFile>());
        darks.back()->name = name;
        std::string failure = Open_dark(*darks.back());
        if (!failure.empty()) return failure;
        const DarkFile& first = *darks.front();
        if (darks.back()->width != first.width || darks.back()->height != first.height) {
            return "Dark picture '" + name + "' is " + std::to_string(darks.back()->width) + " x " +
                   std::to_string(darks.back()->height) + ", but '" + first.name + "' is " +
                   std::to_string(first.width) + " x " + std::to_string(first.height);
        }
    }
    const int32_t width = darks.front()->width;
    const int32_t height = darks.front()->height;

    ProductFile product;
    if (!Open_product(output, product)) return "Can't write the master dark '" + output + "'";
    std::fprintf(product.stream, "P5\n%d %d\n65535\n", width, height);
    std::vector<std::vector<uint16_t>> blocks(darks.size());
    std::vector<const uint16_t*> samples(darks.size());
    std::vector<uint16_t> median;
    std::vector<unsigned char> bytes;
    for (int32_t y = 0; y < height; y += block_rows) {
        const size_t count = size_t(width) * size_t(std::min(block_rows, height - y));
        for (size_t d = 0; d < darks.size(); ++d) {
            if (!Read_block(*darks[d], count, blocks[d])) {
                // The temporary file goes; an earlier master dark stays as it was.
                std::fclose(product.stream);
                EndingSignalsHeld held;
                std::remove(product.temporary.c_str());
                Forget_temporary_product();
                return "Dark picture '" + darks[d]->name + "' could not be read to its end";
            }
            samples[d] = blocks[d].data();
        }
        median.resize(count);
        Median_of_samples(samples, count, median.data());
        bytes.resize(2 * count);
        for (size_t i = 0; i < count; ++i) {
            bytes[2 * i] = static_cast<unsigned char>(median[i] >> 8);
            bytes[2 * i + 1] = static_cast<unsigned char>(median[i] & 0xFF);
        }
        std::fwrite(bytes.data(), 1, bytes.size(), product.stream);
    }
    if (!Finish_product(product)) return "Can't write the master dark '" + output + "'";
    return std::string();
}
