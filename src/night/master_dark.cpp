#include "night/master_dark.h"

#include <algorithm>
#include <cstdio>

#include "base/image_plane.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "input/pgm.h"
#include "input/pictures.h"

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

Failure Check_dark_sizes(const std::vector<std::string>& names, const std::string& first_frame)
{
    const auto size_of = [](int32_t width, int32_t height) {
        return std::to_string(width) + " x " + std::to_string(height);
    };
    int32_t width = 0, height = 0;
    for (const std::string& name : names) {
        OpenedPicture dark;
        if (Failure failure = Open_picture(name, dark)) {
            failure.code = exit_bad_picture;   // a dark that isn't 16-bit can't be used either
            return failure;
        }
        if (Failure failure = Check_frame_limit(name, dark.width, dark.height)) return failure;
        if (&name != &names.front() && (dark.width != width || dark.height != height)) {
            return Failure{exit_bad_picture, "Dark picture '" + name + "' is " + size_of(dark.width, dark.height) +
                                                 ", but '" + names.front() + "' is " + size_of(width, height)};
        }
        width = dark.width;
        height = dark.height;
    }
    OpenedPicture frame;
    if (names.empty() || Open_picture(first_frame, frame) || (frame.width == width && frame.height == height)) {
        return {};   // a frame that can't be opened is refused on its own
    }
    return Failure{exit_bad_picture, "Dark picture '" + names.front() + "' is " + size_of(width, height) +
                                         ", but the first frame '" + first_frame + "' is " +
                                         size_of(frame.width, frame.height)};
}

Failure Write_master_dark(const std::vector<std::string>& names, const std::string& output, int32_t block_rows)
{
    if (names.empty()) return Failure{exit_bad_picture, "No dark picture to combine"};
    std::vector<LoadedPicture> darks(names.size());
    for (size_t d = 0; d < names.size(); ++d) {
        if (Failure failure = Read_picture(names[d], darks[d])) {
            failure.code = exit_bad_picture;   // a dark that isn't 16-bit can't be used either
            return failure;
        }
        if (darks[d].width != darks[0].width || darks[d].height != darks[0].height) {
            return Failure{exit_bad_picture, "Dark picture '" + names[d] + "' is " + std::to_string(darks[d].width) +
                                                 " x " + std::to_string(darks[d].height) + ", but '" + names[0] +
                                                 "' is " + std::to_string(darks[0].width) + " x " +
                                                 std::to_string(darks[0].height)};
        }
    }
    const size_t width = size_t(darks[0].width);
    const int32_t height = darks[0].height;

    ProductFile product;
    if (Failure failure = Open_product(output, product)) return failure;
    std::fprintf(product.stream, "P5\n%zu %d\n65535\n", width, height);
    std::vector<std::vector<uint16_t>> blocks(darks.size());
    std::vector<const uint16_t*> samples(darks.size());
    std::vector<uint16_t> median;
    std::vector<unsigned char> bytes;
    for (int32_t y = 0; y < height; y += block_rows) {
        const size_t first = width * size_t(y);
        const size_t count = width * size_t(std::min(block_rows, height - y));
        for (size_t d = 0; d < darks.size(); ++d) {
            blocks[d].resize(count);
            for (size_t i = 0; i < count; ++i) blocks[d][i] = darks[d].plane[first + i];
            samples[d] = blocks[d].data();
        }
        median.resize(count);
        Median_of_samples(samples, count, median.data());
        bytes.resize(2 * count);
        for (size_t i = 0; i < count; ++i) Store_sample(bytes.data(), i, median[i]);
        Write_product(product, bytes.data(), bytes.size());
    }
    return Finish_product(product);
}
