#include "measure/beam_table.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "base/maths.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "measure/beam_signal.h"
#include "model/lens.h"

std::vector<float> Running_medians()
{
    // The window rows of processed row k fall onto consecutive processed-row indices
    // j0 ... j0 + median, with j0 one more for each next row: both clipped ends of
    // the window only move forward. The window's values are held sorted in two
    // parts, `low` with the size / 2 smallest and `high` with the rest, so that the
    // least of `high` is the element at index size / 2.
    const int64_t n = static_cast<int64_t>(gnetto.size());
    std::vector<float> medians;
    medians.reserve(gnetto.size());
    std::multiset<float> low;
    std::multiset<float> high;
    auto insert = [&](float signal) {
        if (!low.empty() && signal <= *low.rbegin()) {
            low.insert(signal);
        } else {
            high.insert(signal);
        }
    };
    auto erase = [&](float signal) {
        // A value equal to the largest of `low` may stand in either part: the same value.
        std::multiset<float>& part = !low.empty() && signal <= *low.rbegin() ? low : high;
        const auto found = part.find(signal);
        if (found != part.end()) part.erase(found);
    };
    int64_t from = 0;   // the window held: indices from ... to
    int64_t to = -1;
    const int64_t y_F = First_processed_row();
    for (int64_t k = 0; k < n; ++k) {
        const int64_t j0 = Processed_index(y_F + 2 * k - median);
        const int64_t first = std::max<int64_t>(j0, 0);
        const int64_t last = std::min<int64_t>(j0 + median, n - 1);
        while (to < last) insert(gnetto[size_t(++to)]);
        while (from < first) erase(gnetto[size_t(from++)]);
        const size_t lower = (low.size() + high.size()) / 2;
        while (low.size() > lower) {
            high.insert(*low.rbegin());
            low.erase(std::prev(low.end()));
        }
        while (low.size() < lower) {
            low.insert(*high.begin());
            high.erase(high.begin());
        }
        medians.push_back(*high.begin());
    }
    return medians;
}

std::vector<TableRow> Table_rows(float C)
{
    const int32_t y_F = First_processed_row();
    const int32_t y_L = Path_end_row();
    const std::vector<float> medians = median > 0 ? Running_medians() : std::vector<float>();

    // The geometry: the camera looks at the zenith; the laser stands `laserdistance`
    // from it and sends the beam up at `elevation` from the line towards the camera,
    // so the beam lies in the vertical plane through camera and laser and its picture
    // runs along a diameter of the image circle. The path's end point E is the laser
    // itself, on the horizon. A point of the path is placed on that diameter by its
    // distance from E, and its zenith angle follows from its radius.

    // The path's end point E and its first point, relative to the image centre.
    const int32_t x_E = Getpathx(y_L);
    const float a_E = static_cast<float>(int64_t{x_E} - xcentre);
    const float b_E = static_cast<float>(int64_t{y_L} - ycentre);
    const float r_E = static_cast<float>(std::sqrt(double{a_E} * a_E + double{b_E} * b_E));
    // The laser lies on the horizon: the shift that puts the end point at a zenith
    // angle of 90 degrees, applied to every row when the path starts far from the
    // zenith (its first point beyond 45 degrees).
    const float delta = static_cast<float>(90.0 - R2thetadeg(r_E));
    const double a_0 = static_cast<float>(int64_t{Getpathx(y_F)} - xcentre);
    const double b_0 = static_cast<float>(int64_t{y_F} - ycentre);
    const float theta_0 = R2thetadeg(static_cast<float>(std::sqrt(a_0 * a_0 + b_0 * b_0)));
    const double sin_elevation = std::sin(Radians(elevation));

    std::vector<TableRow> rows;
    size_t k = 0;
    for (int32_t y = y_F; y < y_L; y += 2, ++k) {
        TableRow row;
        row.x = Getpathx(y);
        row.y = y;
        const float s = static_cast<float>(gnetto[k] / double{C});
        const float M = median > 0 ? static_cast<float>(medians[k] / double{C}) : s;

        // Distance from the end point, moving towards the image centre along the path;
        // the radius |r_E - d| and its zenith angle, negative past the image centre
        // (the zenith), on the far side from the laser.
        const float d_x = static_cast<float>(int64_t{row.x} - xcentre) - a_E;
        const float d_y = static_cast<float>(int64_t{y} - ycentre) - b_E;
        const float d = static_cast<float>(std::sqrt(double{d_x} * d_x + double{d_y} * d_y));
        const float r = std::fabs(r_E - d);
        float theta = R2thetadeg(r);
        if (d > r_E) theta = -theta;   // beyond the image centre as seen from the end point
        if (theta_0 > 45.0f) theta = static_cast<float>(double{theta} + delta);

        // The triangle camera-laser-scattering point: the angle at the camera is
        // 90 - theta, at the laser the elevation, at the scattering point 180 - alpha,
        // where alpha, the scattering angle, is the angle between the beam's direction
        // and the line from the scattering point to the camera. The law of sines gives
        // the camera's distance D from the opposite angles and the camera-laser side;
        // the height above the camera is D cos(theta).
        const float alpha = static_cast<float>((90.0 - theta) + elevation);
        const float D =
            static_cast<float>(sin_elevation / std::sin(Radians(180.0 - alpha)) * laserdistance);
        const float h = static_cast<float>(std::cos(Radians(theta)) * D);
        const float M_s = static_cast<float>(std::sin(Radians(alpha)) * M);

        row.r = r;
        row.theta = theta;
        row.height = h;
        row.distance = D;
        row.alpha = alpha;
        row.signal = s;
        row.median = M;
        row.median_sin = M_s;
        rows.push_back(row);
    }
    return rows;
}

GreenData Measure_green_data()
{
    GreenData data;
    data.coefficient = Compute_beam_signal(data.row90);
    data.rows = Table_rows(data.coefficient);
    return data;
}
