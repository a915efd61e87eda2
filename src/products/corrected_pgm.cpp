#include "products/corrected_pgm.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "driver/settings.h"
#include "input/laserpath.h"
#include "input/pgm.h"
#include "model/bayer.h"
#include "model/lens.h"
#include "model/levels.h"
#include "products/output_file.h"

namespace {

const char* const picture_name = "linearlyscaledG.PGM";

// Net green level of pixel (x, y), dark-corrected and divided by the lens
// sensitivity at the pixel's distance from the image centre.
float Corrected_green(int32_t x, int32_t y)
{
    float R, G_laser, G_dark, B;
    Get_jas(value, x, y, R, G_laser, B);
    Get_jas(value_bckg, x, y, R, G_dark, B);
    const float g = G_laser - G_dark;

    const float dx = static_cast<float>(int64_t{x} - xcentre);
    const float dy = static_cast<float>(int64_t{y} - ycentre);
    const float dx2 = dx * dx;
    const float r2 = static_cast<float>(double{dx2} + double{dy} * dy);
    const float r = static_cast<float>(std::sqrt(double{r2}));
    return static_cast<float>(g / double{Sensitivity(R2thetadeg(r))});
}

// The corrected values of the whole frame, row by row, with the marker lines and
// the high-level limit applied.
std::vector<float> Corrected_frame()
{
    std::vector<float> corrected(size_t(hsize) * size_t(vsize));
    const float marker = maxvalue - zero_level;
    const bool limited = correction > 1e-6;
    const int64_t band = pathwidth;
    const int64_t side = int64_t{2} * sidescale * pathwidth;
    size_t index = 0;
    for (int32_t y = 0; y < vsize; ++y) {
        // Rows outside the path give -1, which the marker tests use like a column.
        const int64_t p = Getpathx(y);
        for (int32_t x = 0; x < hsize; ++x, ++index) {
            float g = std::max(Corrected_green(x, y), 0.0f);
            if (x == p - band || x == p + band || x == p - side || x == p + side) g = marker;
            if (limited && g > correction) g = correction;
            corrected[index] = g;
        }
    }
    return corrected;
}

}  // namespace

bool Write_corrected_PGM()
{
    ProductFile product;
    if (!Open_product(picture_name, product)) return false;
    std::fprintf(product.stream, "P5\n%d %d\n%d\n", hsize, vsize, resolution);

    const std::vector<float> corrected = Corrected_frame();
    const float m = *std::max_element(corrected.begin(), corrected.end());
    std::vector<unsigned char> bytes(2 * size_t(hsize));
    for (size_t row = 0; row < size_t(vsize); ++row) {
        const float* g = corrected.data() + row * size_t(hsize);
        for (size_t x = 0; x < size_t(hsize); ++x) {
            int32_t n = 0;
            if (m != 0.0f) {   // with no value above 0 every sample is 0
                float s = static_cast<float>(double{g[x]} / m * resolution);
                if (s >= 0.0f) n = static_cast<int32_t>(std::min(s, float(resolution)));
            }
            bytes[2 * x] = static_cast<unsigned char>(n / 256);
            bytes[2 * x + 1] = static_cast<unsigned char>(n % 256);
        }
        std::fwrite(bytes.data(), 1, bytes.size(), product.stream);
    }
    return Finish_product(product);
}
