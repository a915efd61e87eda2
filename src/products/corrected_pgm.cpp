#include "products/corrected_pgm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/image_plane.h"
#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "model/bayer.h"
#include "model/lens.h"
#include "model/levels.h"
#include "model/row_clones.h"

namespace {

const char* const picture_name = corrected_picture_name;

// Rows written to the file at a time.
constexpr int32_t rows_per_write = 64;

}  // namespace

// No call and no branch per pixel, so that the loop vectorises. The squared radius is
// rounded to float before the root, the root to float, and the quotient of level
// and sensitivity to float, each as the lens model rounds.
TAVROLIN_ROW_CLONES
void Correct_row(const float* green, const float* squared_dx, double squared_dy, double scale,
                 float limit, int32_t n, float* row)
{
    for (int32_t x = 0; x < n; ++x) {
        const float r2 = static_cast<float>(double{squared_dx[x]} + squared_dy);
        const float r = static_cast<float>(std::sqrt(double{r2}));
        const float S = Lens_sensitivity(Zenith_angle(r, scale));
        float g = static_cast<float>(green[x] / double{S});
        g = g < 0.0f ? 0.0f : g;
        row[x] = g > limit ? limit : g;
    }
}

Corrected_rows::Corrected_rows()
    : squared_dx_(size_t(hsize)), green_(size_t(hsize)), scale_(Lens_scale()),
      lowest_sensitivity_(Lens_sensitivity(90.0f))
{
    // The column offset is rounded to float and squared in float: the radius of
    // this picture is formed that way, unlike the radius of the beam signal.
    for (int32_t x = 0; x < hsize; ++x) {
        const float dx = static_cast<float>(int64_t{x} - xcentre);
        squared_dx_[size_t(x)] = dx * dx;
    }
    // The high-level limit cuts the marker value as it cuts every other value.
    const bool limited = correction > 1e-6;
    limit_ = limited ? correction : std::numeric_limits<float>::infinity();
    const float marker = maxvalue - zero_level;
    marker_ = limited && marker > correction ? correction : marker;
}

void Corrected_rows::Compute(int32_t y, float* row)
{
    const int32_t cell_row = y - y % 2;
    if (cell_row != green_row_) {   // both rows of a cell share its green levels
        Net_greens(y, 0, hsize, green_.data());
        green_row_ = cell_row;
    }
    const float dy = static_cast<float>(int64_t{y} - ycentre);
    Correct_row(green_.data(), squared_dx_.data(), double{dy} * dy, scale_, limit_, hsize, row);
    for (const int64_t column : Marker_columns(y)) {
        if (column >= 0 && column < hsize) row[column] = marker_;
    }
}

void Corrected_rows::Compute_span(int32_t y, int32_t x0, int32_t n, float* span)
{
    span_green_.resize(size_t(n));
    Net_greens(y, x0, x0 + n, span_green_.data());
    const float dy = static_cast<float>(int64_t{y} - ycentre);
    Correct_row(span_green_.data(), squared_dx_.data() + x0, double{dy} * dy, scale_, limit_, n, span);
    for (const int64_t column : Marker_columns(y)) {
        if (column >= x0 && column < int64_t{x0} + n) span[column - x0] = marker_;
    }
}

float Corrected_rows::Bound(float green) const
{
    // The lens sensitivity is never below its value at 90 degrees: it falls with
    // the angle up to there and is 1 beyond. Every step from level to value is
    // rounded by a monotone rule, so the bound holds for the rounded values too.
    const float g = green / lowest_sensitivity_;
    const float cut = g < 0.0f ? 0.0f : g;
    return cut > limit_ ? limit_ : cut;
}

bool Corrected_rows::Has_marker(int32_t y) const
{
    for (const int64_t column : Marker_columns(y)) {
        if (column >= 0 && column < hsize) return true;
    }
    return false;
}

// Rows off the path give -1, which the marker tests use like a column.
std::array<int64_t, 4> Corrected_rows::Marker_columns(int32_t y)
{
    const int64_t p = Getpathx(y);
    const int64_t band = pathwidth;
    const int64_t side = Side_band_reach();
    return {p - band, p + band, p - side, p + side};
}

namespace {

// The largest of n values, none of them NaN. Eight running maxima, so that the
// comparisons don't wait on each other; the largest value is the same in any order.
float Max_of(const float* v, int32_t n)
{
    constexpr int32_t lanes = 8;
    float lane[lanes];
    std::fill(lane, lane + lanes, -std::numeric_limits<float>::infinity());
    int32_t x = 0;
    for (; x + lanes <= n; x += lanes) {
        for (int32_t k = 0; k < lanes; ++k) lane[k] = v[x + k] > lane[k] ? v[x + k] : lane[k];
    }
    float m = -std::numeric_limits<float>::infinity();
    for (; x < n; ++x) m = v[x] > m ? v[x] : m;
    for (const float l : lane) m = l > m ? l : m;
    return m;
}

}  // namespace

// The largest corrected value of the picture. Only rows that can hold it are
// computed: the cell rows are taken in descending order of a bound on their largest
// net green level, and the search ends at the first whose bound can't exceed the
// largest value found so far.
float Largest_value(Corrected_rows& corrected)
{
    float m = -std::numeric_limits<float>::infinity();
    for (int32_t y = 0; y < vsize; ++y) {
        if (corrected.Has_marker(y)) {
            m = corrected.Marker();
            break;
        }
    }

    std::vector<float> row(static_cast<size_t>(hsize));
    std::vector<std::pair<float, int32_t>> cell_rows;   // bound of the largest net green, first row
    cell_rows.reserve(size_t(vsize / 2));
    for (int32_t y = 0; y < vsize; y += 2) cell_rows.emplace_back(Largest_net_green_bound(y), y);
    std::sort(cell_rows.begin(), cell_rows.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& cell_row : cell_rows) {
        if (corrected.Bound(cell_row.first) <= m) break;
        for (int32_t y = cell_row.second; y < cell_row.second + 2; ++y) {
            corrected.Compute(y, row.data());
            m = std::max(m, Max_of(row.data(), hsize));
        }
    }
    return m;
}

void Scale_row(const float* row, float m, unsigned char* bytes)
{
    const float full = static_cast<float>(resolution);
    for (int32_t x = 0; x < hsize; ++x) {
        // The quotient and the product in double, rounded to float once.
        const float s = static_cast<float>(double{row[x]} / m * resolution);
        const float cut = full < s ? full : s;
        const int32_t n = s >= 0.0f ? static_cast<int32_t>(cut) : 0;
        Store_sample(bytes, size_t(x), static_cast<uint16_t>(n));
    }
}

Failure Write_corrected_PGM()
{
    ProductFile product;
    if (Failure failure = Open_product(Product_path(picture_name), product)) return failure;
    std::fprintf(product.stream, "P5\n%d %d\n%d\n", hsize, vsize, resolution);

    // The largest value is needed before the first sample can be scaled: rather
    // than hold a float for every pixel, it is found first, and the rows are
    // computed again for writing.
    Corrected_rows corrected;
    const float m = Largest_value(corrected);
    std::vector<float> row(static_cast<size_t>(hsize));

    const size_t row_bytes = 2 * size_t(hsize);
    std::vector<unsigned char> bytes(row_bytes * size_t(std::min(rows_per_write, vsize)));
    for (int32_t y = 0; y < vsize;) {
        const int32_t rows = std::min(rows_per_write, vsize - y);
        for (int32_t i = 0; i < rows; ++i, ++y) {
            unsigned char* out = bytes.data() + size_t(i) * row_bytes;
            if (m != 0.0f) {   // with no value above 0 every sample is 0
                corrected.Compute(y, row.data());
                Scale_row(row.data(), m, out);
            } else {
                std::fill(out, out + row_bytes, 0);
            }
        }
        Write_product(product, bytes.data(), row_bytes * size_t(rows));
    }
    return Finish_product(product);
}
