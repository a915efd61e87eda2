#include "night/quicklook.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <csetjmp>
#include <vector>

#include <png.h>

#include "base/image_plane.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "products/corrected_pgm.h"

namespace {

constexpr int32_t reduced_width = 800;
constexpr int32_t gap = 16;   // white columns between the two parts
constexpr double gamma_value = 2.2;

// An 8-bit RGB picture.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<unsigned char> rgb;   // 3 bytes a pixel, row-major
    void Set(int32_t x, int32_t y, unsigned char r, unsigned char g, unsigned char b)
    {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        unsigned char* p = &rgb[3 * (size_t(y) * size_t(width) + size_t(x))];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    }
};

// A fraction q of the largest value on the 8-bit scale, brightened by the gamma.
unsigned char Gamma_grey(double q)
{
    return static_cast<unsigned char>(std::lround(255.0 * std::pow(q, 1.0 / gamma_value)));
}

// A corrected value on the 8-bit scale: scaled so that the largest value m becomes
// 1, then brightened by the gamma. The grey only steps up with the fraction, so the
// fractions where it steps are found once, by halving between neighbouring doubles,
// and a pixel's grey is the number of steps below its fraction.
class GreyScale {
public:
    GreyScale()
    {
        for (int k = 1; k <= 255; ++k) {
            uint64_t below = Bits(0.0), at = Bits(1.0);   // grey(below) < k <= grey(at)
            while (at - below > 1) {
                const uint64_t middle = below + (at - below) / 2;
                (Gamma_grey(Value(middle)) >= k ? at : below) = middle;
            }
            steps_[size_t(k - 1)] = Value(at);
        }
        // The grey at the foot of each of `buckets` equal parts of [0, 1]: a pixel's
        // search starts there and passes a step or two at most.
        for (size_t b = 0; b <= buckets; ++b) {
            const double foot = double(b) / buckets;
            bucket_grey_[b] = static_cast<unsigned char>(std::upper_bound(steps_.begin(), steps_.end(), foot) -
                                                         steps_.begin());
        }
    }
    unsigned char operator()(double value, double m) const
    {
        if (!(m > 0.0) || !(value > 0.0)) return 0;
        const double q = std::min(value / m, 1.0);
        // (q times a power of two is exact, so the bucket's foot is never above q.)
        size_t grey = bucket_grey_[static_cast<size_t>(q * buckets)];
        while (grey < steps_.size() && steps_[grey] <= q) ++grey;
        return static_cast<unsigned char>(grey);
    }

private:
    static uint64_t Bits(double value)
    {
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    static double Value(uint64_t bits)
    {
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    static constexpr size_t buckets = 4096;   // a power of two
    std::array<double, 255> steps_{};          // steps_[k - 1]: the least fraction of grey k
    std::array<unsigned char, buckets + 1> bucket_grey_{};
};

// Writes `picture` as PNG to the product file's stream; false when libpng fails.
bool Write_png(std::FILE* stream, Picture& picture)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows(static_cast<size_t>(picture.height));
    for (int32_t y = 0; y < picture.height; ++y) rows[size_t(y)] = &picture.rgb[3 * size_t(y) * size_t(picture.width)];
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, stream);
    png_set_IHDR(png, info, uint32_t(picture.width), uint32_t(picture.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // A quicklook is written for every frame of the night: zlib's fastest level
    // costs a third of the default's time for a file a fifth larger. Each row is
    // filtered against the one above only, instead of trying every filter on every
    // row: libpng then takes less than half its time, for a file 1 % larger.
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_UP);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

Failure Write_quicklook(const std::string& name, int32_t x, int32_t y)
{
    // The crop: the beam band and the side bands with room on either side, twice as
    // high as wide, inside the picture.
    const int64_t reach = Side_band_reach();
    const int32_t crop_w = static_cast<int32_t>(std::min<int64_t>(2 * (reach + 36), hsize));
    const int32_t crop_h = std::min(2 * crop_w, vsize);
    const int32_t crop_x = std::clamp(x - crop_w / 2, 0, hsize - crop_w);
    const int32_t crop_y = std::clamp(y - crop_h / 2, 0, vsize - crop_h);

    const int32_t small_w = std::min(reduced_width, hsize);
    const int32_t small_h = std::max<int32_t>(1, static_cast<int32_t>(int64_t(vsize) * small_w / hsize));
    // Each reduced pixel is the mean of a block of whole columns and of the block's
    // rows that are a multiple of `row_step`: every row a block's height allows two of
    // (every third of a full frame's, whose blocks are 7 or 8 rows high), which show it
    // as well as all. A block's columns are summed into one running sum, in the
    // columns' order.
    const int32_t row_step = std::max<int32_t>(1, vsize / small_h / 2);
    std::vector<int32_t> first_column(size_t(small_w) + 1, hsize);
    std::vector<int64_t> block_rows(size_t(small_h), 0);
    for (int32_t c = hsize - 1; c >= 0; --c) first_column[size_t(int64_t(c) * small_w / hsize)] = c;
    for (int32_t r = 0; r < vsize; r += row_step) ++block_rows[size_t(int64_t(r) * small_h / vsize)];
    std::vector<double> sums(size_t(small_w) * size_t(small_h), 0.0);
    std::vector<float> crop(size_t(crop_w) * size_t(crop_h));

    Corrected_rows corrected;
    const double m = Largest_value(corrected);
    std::vector<float> row(static_cast<size_t>(hsize));
    for (int32_t r = 0; r < vsize && m != 0.0; ++r) {
        const bool in_crop = r >= crop_y && r < crop_y + crop_h;
        float* crop_row = in_crop ? &crop[size_t(r - crop_y) * size_t(crop_w)] : nullptr;
        if (r % row_step != 0) {
            if (in_crop) corrected.Compute_span(r, crop_x, crop_w, crop_row);
            continue;
        }
        corrected.Compute(r, row.data());
        double* block = &sums[size_t(int64_t(r) * small_h / vsize) * size_t(small_w)];
        for (int32_t b = 0; b < small_w; ++b) {
            double sum = block[b];
            for (int32_t c = first_column[size_t(b)]; c < first_column[size_t(b) + 1]; ++c) sum += row[size_t(c)];
            block[b] = sum;
        }
        if (in_crop) std::copy(row.begin() + crop_x, row.begin() + crop_x + crop_w, crop_row);
    }

    static const GreyScale Grey;
    Picture picture;
    picture.width = small_w + gap + 2 * crop_w;
    picture.height = std::max(small_h, 2 * crop_h);
    picture.rgb.assign(3 * size_t(picture.width) * size_t(picture.height), 255);
    const int32_t small_top = (picture.height - small_h) / 2, crop_top = (picture.height - 2 * crop_h) / 2;
    for (int32_t r = 0; r < small_h; ++r) {
        for (int32_t c = 0; c < small_w; ++c) {
            const size_t i = size_t(r) * size_t(small_w) + size_t(c);
            const int64_t count = m != 0.0 ? block_rows[size_t(r)] * (first_column[size_t(c) + 1] - first_column[size_t(c)]) : 0;
            const unsigned char g = Grey(count > 0 ? sums[i] / double(count) : 0.0, m);
            picture.Set(c, small_top + r, g, g, g);
        }
    }
    // Where the crop lies, on the reduced picture.
    const int32_t fx = static_cast<int32_t>(int64_t(crop_x) * small_w / hsize);
    const int32_t fy = static_cast<int32_t>(int64_t(crop_y) * small_h / vsize);
    const int32_t fw = std::min(static_cast<int32_t>((int64_t(crop_w) * small_w + hsize - 1) / hsize), small_w - 1 - fx);
    const int32_t fh = std::min(static_cast<int32_t>((int64_t(crop_h) * small_h + vsize - 1) / vsize), small_h - 1 - fy);
    for (int32_t c = fx; c <= fx + fw; ++c) {
        picture.Set(c, small_top + fy, 255, 0, 0);
        picture.Set(c, small_top + fy + fh, 255, 0, 0);
    }
    for (int32_t r = fy; r <= fy + fh; ++r) {
        picture.Set(fx, small_top + r, 255, 0, 0);
        picture.Set(fx + fw, small_top + r, 255, 0, 0);
    }
    const int32_t left = small_w + gap;
    for (int32_t r = 0; r < crop_h; ++r) {
        for (int32_t c = 0; c < crop_w; ++c) {   // each pixel of the crop as 2 x 2
            const unsigned char g = Grey(crop[size_t(r) * size_t(crop_w) + size_t(c)], m);
            for (int32_t k = 0; k < 4; ++k) picture.Set(left + 2 * c + k % 2, crop_top + 2 * r + k / 2, g, g, g);
        }
    }

    ProductFile product;
    if (Failure failure = Open_product(name, product)) return failure;
    if (!Write_png(product.stream, picture)) {
        Abandon_product(product);
        return Failure{exit_product_not_written, "Can't write '" + name + "'"};
    }
    return Finish_product(product);
}
