#include "model/lens.h"

#include <cmath>
#include <ostream>

#include "base/console.h"
#include "base/maths.h"
#include "base/settings.h"

bool was_no_warning = true;

float R2thetadeg(float r)
{
    return Zenith_angle(r, Lens_scale());
}

float Thetadeg2r(float theta)
{
    const float t = static_cast<float>(26.053 * theta - (0.043766 * theta) * theta);
    return static_cast<float>(t * (rmax / lens_reference_radius));
}

float Sensitivity(float theta)
{
    return Lens_sensitivity(theta);
}

void ThetaFi2xys(float theta, float phi, int32_t& x, int32_t& y, float& sens)
{
    const float thetadeg = static_cast<float>((theta / pi) * 180.0);
    const float r = Thetadeg2r(thetadeg);
    x = static_cast<int32_t>(xcentre + r * std::cos(double{phi}));
    y = static_cast<int32_t>(ycentre + r * std::sin(double{phi}));
    sens = Sensitivity(thetadeg);
    // The active picture area includes its bounds.
    if (x < picture.x_from || x > picture.x_to || y < picture.y_from || y > picture.y_to) {
        sens = -1.0f;
        if (was_no_warning) {
            was_no_warning = false;
            Console() << "chip border reached...";
        }
    }
}
