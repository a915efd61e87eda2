#include "model/bayer.h"

#include <cassert>

#include "model/levels.h"

void Get_jas(const ImagePlane& plane, int32_t x, int32_t y, float& R, float& G, float& B)
{
    const int32_t x0 = x - x % 2;
    const int32_t y0 = y - y % 2;
    assert(x0 >= 0 && x0 + 1 < hsize && y0 >= 0 && y0 + 1 < vsize);
    assert(plane.size() == size_t(hsize) * size_t(vsize));

    const bool laser = &plane == &value;
    const float level_R = laser ? zero_level_R : zero_level_R_bckg;
    const float level_G = laser ? zero_level_G : zero_level_G_bckg;
    const float level_B = laser ? zero_level_B : zero_level_B_bckg;

    const size_t top = size_t(hsize) * size_t(y0) + size_t(x0);
    const size_t bottom = top + size_t(hsize);
    R = static_cast<float>(static_cast<double>(plane[top]) - level_R);
    B = static_cast<float>(static_cast<double>(plane[bottom + 1]) - level_B);
    // The two green samples are averaged and corrected in double, rounded once.
    G = static_cast<float>(0.5 * plane[top + 1] + 0.5 * plane[bottom] - level_G);
}
