#include "scene_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <vector>

#include <tiffio.h>

#include "base/image_plane.h"
#include "base/maths.h"
#include "base/settings.h"
#include "input/laserpath.h"
#include "model/lens.h"

namespace scene_model {

const char* const laser_name = "scene_laser.pgm";
const char* const dark_name = "scene_dark.pgm";
const char* const truth_name = "scene_truth.txt";
const char* const laser_raw_name = "scene_laser.dng";
const char* const dark_raw_name = "scene_dark.dng";

namespace {

// Opens an uncompressed CFA DNG of the whole frame for writing row by row: 16-bit
// samples of the RGGB mosaic starting with red at (0, 0), the active picture area
// as ActiveArea, as a camera's raw converter would have written it.
TIFF* Open_dng(const std::string& path)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (tiff == nullptr) return nullptr;
    const uint8_t dng_version[4] = {1, 4, 0, 0};
    const uint8_t backward_version[4] = {1, 1, 0, 0};
    const uint16_t pattern_size[2] = {2, 2};
    const uint8_t rggb[4] = {0, 1, 1, 2};
    const uint32_t active_area[4] = {uint32_t(picture.y_from), uint32_t(picture.x_from),
                                     uint32_t(picture.y_to + 1), uint32_t(picture.x_to + 1)};
    const bool ok =
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0) && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, frame_width) &&
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, frame_height) &&
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA) &&
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16) &&
        TIFFSetField(tiff, TIFFTAG_MAKE, "TAVROLIN") &&
        TIFFSetField(tiff, TIFFTAG_MODEL, "sample scene") &&
        TIFFSetField(tiff, TIFFTAG_SOFTWARE, "tavrolin-scene") &&
        TIFFSetField(tiff, TIFFTAG_DNGVERSION, dng_version) &&
        TIFFSetField(tiff, TIFFTAG_DNGBACKWARDVERSION, backward_version) &&
        TIFFSetField(tiff, TIFFTAG_UNIQUECAMERAMODEL, "TAVROLIN sample scene") &&
        TIFFSetField(tiff, TIFFTAG_CFAREPEATPATTERNDIM, pattern_size) &&
        TIFFSetField(tiff, TIFFTAG_CFAPATTERN, 4, rggb) &&
        TIFFSetField(tiff, TIFFTAG_ACTIVEAREA, active_area) &&
        TIFFSetField(tiff, TIFFTAG_EXIFIFD, uint64_t{0});   // its place, filled in by Close_dng
    if (!ok) {
        TIFFClose(tiff);
        return nullptr;
    }
    return tiff;
}

// Ends the DNG: its directory, then the EXIF directory with the camera's settings and
// the capture time `taken` (seconds since 1970 UTC; EXIF holds the camera's clock
// reading without a time zone), pointed to from the first directory.
bool Close_dng(TIFF* tiff, int64_t taken)
{
    const std::time_t seconds = static_cast<std::time_t>(taken);
    std::tm utc;
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y:%m:%d %H:%M:%S", &utc);
    const uint16_t iso[1] = {1600};
    uint64_t exif_offset = 0;
    bool ok = TIFFWriteDirectory(tiff) == 1 && TIFFCreateEXIFDirectory(tiff) == 0 &&
              TIFFSetField(tiff, EXIFTAG_DATETIMEORIGINAL, stamp) &&
              TIFFSetField(tiff, EXIFTAG_EXPOSURETIME, 30.0) && TIFFSetField(tiff, EXIFTAG_FNUMBER, 2.8) &&
              TIFFSetField(tiff, EXIFTAG_ISOSPEEDRATINGS, 1, iso) &&
              TIFFSetField(tiff, EXIFTAG_FOCALLENGTH, 8.0) &&
              TIFFSetField(tiff, EXIFTAG_BODYSERIALNUMBER, "TVR0001") &&
              TIFFWriteCustomDirectory(tiff, &exif_offset) == 1 && TIFFSetDirectory(tiff, 0) == 1 &&
              TIFFSetField(tiff, TIFFTAG_EXIFIFD, exif_offset) && TIFFRewriteDirectory(tiff) == 1;
    TIFFClose(tiff);
    return ok;
}

uint64_t Splitmix64(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint64_t Rotl(uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

// Distance of pixel (x, y) from the image centre, as the tool forms it.
float Radius(int32_t x, int32_t y)
{
    const double dx = static_cast<float>(int64_t{x} - xcentre);
    const double dy = static_cast<float>(int64_t{y} - ycentre);
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

int Channel(int32_t x, int32_t y)   // 0 red, 1 green, 2 blue
{
    return (x % 2) + (y % 2);
}

int64_t Floor_half(int64_t a)
{
    return a >= 0 ? a / 2 : -((1 - a) / 2);
}

double Median(std::vector<double> list)
{
    std::sort(list.begin(), list.end());
    return list[list.size() / 2];
}

// The light's factor on pixel (x, y): 1 but on the first green of a cell.
double Green_factor(const SceneSettings& scene, int32_t x, int32_t y)
{
    return x % 2 == 1 && y % 2 == 0 ? 1.0 + scene.green_mismatch : 1.0;
}

// Noise variance of one green sample of (x, y), net of the dark picture.
double Green_variance(const SceneSettings& scene, int32_t x, int32_t y)
{
    const double read = scene.read_noise * scene.read_noise;
    const double light = (Sky_light(scene, x, y) + Beam_light(scene, x, y)) * Falloff(scene, x, y) *
                         Green_factor(scene, x, y);
    return read + scene.gain * light + (scene.dark_frame ? read : 0.0);
}

// Expected beam share and noise variance of the tool's band sum on processed row y:
// each column c of the band reads the mean of the two green samples of its colour
// cell and divides it by the fall-off at c itself.
void Band_sum(const SceneSettings& scene, int32_t y, int32_t x_P, double& beam, double& variance)
{
    const int32_t w = scene.band_width / 2;
    const int32_t y0 = y - y % 2;
    beam = 0.0;
    variance = 0.0;
    for (int32_t c0 = (x_P - w) - (x_P - w) % 2; c0 <= x_P + w; c0 += 2) {
        double weight = 0.0;   // sum of 1 / fall-off over the band columns of this cell
        for (int32_t c = c0; c <= c0 + 1; ++c) {
            if (c < x_P - w || c > x_P + w) continue;
            const double S = Falloff(scene, c, y);
            weight += 1.0 / S;
            beam += 0.5 * (Beam_light(scene, c0 + 1, y0) * Falloff(scene, c0 + 1, y0) * Green_factor(scene, c0 + 1, y0) +
                           Beam_light(scene, c0, y0 + 1) * Falloff(scene, c0, y0 + 1)) / S;
        }
        variance += 0.25 * weight * weight *
                    (Green_variance(scene, c0 + 1, y0) + Green_variance(scene, c0, y0 + 1));
    }
}

// Noise variance of the side-band background times the band's pixel count: the
// median of the side cells, about pi / 2 times the variance of their mean.
double Background_variance(const SceneSettings& scene, int32_t y, int32_t x_P)
{
    const int32_t w = scene.band_width / 2;
    const int32_t reach = 2 * w * scene.sidescale;
    const int32_t y0 = y - y % 2;
    std::vector<int32_t> cells;   // origins of the side bands' colour cells
    for (int32_t c = x_P - reach; c <= x_P + reach; ++c) {
        if (c < x_P - w || c > x_P + w) cells.push_back(c - c % 2);
    }
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    double sum = 0.0;
    for (int32_t c0 : cells) {
        const double S = Falloff(scene, c0, y);
        sum += 0.25 * (Green_variance(scene, c0 + 1, y0) + Green_variance(scene, c0, y0 + 1)) / (S * S);
    }
    const double N = 2 * w + 1;
    const double count = static_cast<double>(cells.size());
    return N * N * (pi / 2.0) * (sum / count) / count;
}

// The first processed row whose scattering angle, from its own radius, is below
// 90 degrees: the row the tool normalises at (-1 if none).
int32_t Row_of_90_degrees(const SceneSettings& scene)
{
    for (int32_t y = scene.top_y; y < scene.laser_y; y += 2) {
        float theta = R2thetadeg(Radius(Getpathx(y), y));
        if (y < scene.ycentre) theta = -theta;
        const float F = static_cast<float>((90.0 - theta) + scene.elevation);
        if (F < 90.0f) return y;
    }
    return -1;
}

std::string Write_text(const std::string& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    file.close();
    return file ? "" : "can't write " + path;
}

}  // namespace

void Seed(Prng& prng, uint64_t seed)
{
    for (uint64_t& word : prng.state) word = Splitmix64(seed);
    prng.has_spare = false;
    prng.spare = 0.0;
}

uint64_t Next_bits(Prng& prng)
{
    uint64_t* s = prng.state;
    const uint64_t result = Rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 45);
    return result;
}

double Next_uniform(Prng& prng)
{
    // 53 random bits, offset by half a step so that 0 and 1 never come out.
    return (static_cast<double>(Next_bits(prng) >> 11) + 0.5) * 0x1.0p-53;
}

double Next_normal(Prng& prng)
{
    if (prng.has_spare) {
        prng.has_spare = false;
        return prng.spare;
    }
    const double radius = std::sqrt(-2.0 * std::log(Next_uniform(prng)));
    const double angle = 2.0 * pi * Next_uniform(prng);
    prng.spare = radius * std::sin(angle);
    prng.has_spare = true;
    return radius * std::cos(angle);
}

void Place_beam(SceneSettings& scene)
{
    // The ends' offsets from the centre of the default circle, radius 2052.
    const double scale = scene.rmax / 2052.0;
    auto even = [](int64_t row) { return static_cast<int32_t>(row - (row % 2 + 2) % 2); };
    scene.laser_x = static_cast<int32_t>(scene.xcentre + std::lround(178 * scale));
    scene.laser_y = even(scene.ycentre + std::lround(2037 * scale));
    scene.top_x = static_cast<int32_t>(scene.xcentre - std::lround(157 * scale));
    scene.top_y = even(scene.ycentre - std::lround(1793 * scale));
}

std::string Check_scene(const SceneSettings& scene)
{
    const int64_t reach = int64_t{2} * (scene.band_width / 2) * scene.sidescale;
    const int64_t left = std::min(scene.top_x, scene.laser_x) - reach;
    const int64_t right = std::max(scene.top_x, scene.laser_x) + reach;
    if (scene.top_y >= 0 && scene.laser_y <= frame_height - 2 && scene.top_y < scene.laser_y &&
        left >= 0 && right <= frame_width - 2) {
        return "";
    }
    return "the beam and its side bands would reach rows " + std::to_string(scene.top_y) + " to " +
           std::to_string(scene.laser_y) + " and columns " + std::to_string(left) + " to " +
           std::to_string(right) + ", outside the frame of " + std::to_string(frame_width) + " x " +
           std::to_string(frame_height) + ": choose a smaller radius, another centre or narrower bands";
}

void Use_scene_geometry(const SceneSettings& scene)
{
    Reset_run_parameters();
    laserdistance = scene.laserdistance;
    elevation = scene.elevation;
    pathwidth = scene.band_width / 2;
    sidescale = scene.sidescale;
    median = scene.median;
    xcentre = scene.xcentre;
    ycentre = scene.ycentre;
    rmax = scene.rmax;
    laserpath = {{scene.top_x, scene.top_y}, {scene.laser_x, scene.laser_y}};
}

double Phase_function(const SceneSettings& scene, double alpha_deg)
{
    const double g = scene.asymmetry;
    const double mu = std::cos(Radians(alpha_deg));
    const double henyey_greenstein = (1.0 - g * g) / std::pow(1.0 + g * g - 2.0 * g * mu, 1.5);
    const double rayleigh = 0.75 * (1.0 + mu * mu);
    const double f = scene.molecular_fraction;
    return ((1.0 - f) * henyey_greenstein + f * rayleigh) / (4.0 * pi);
}

double Scattering_angle(const SceneSettings& scene, int32_t y)
{
    // The end point E is the laser; a row's zenith angle follows from its distance d
    // from E along the path, and the end point itself is put at the horizon.
    const double a_E = scene.laser_x - scene.xcentre;
    const double b_E = scene.laser_y - scene.ycentre;
    const float r_E = static_cast<float>(std::sqrt(a_E * a_E + b_E * b_E));
    const double delta = 90.0 - R2thetadeg(r_E);
    const float theta_0 = R2thetadeg(Radius(scene.top_x, scene.top_y));

    const double d_x = static_cast<double>(Getpathx(y)) - scene.laser_x;
    const double d_y = static_cast<double>(y) - scene.laser_y;
    const float d = static_cast<float>(std::sqrt(d_x * d_x + d_y * d_y));
    double theta = R2thetadeg(std::fabs(r_E - d));
    if (d > r_E) theta = -theta;
    if (theta_0 > 45.0f) theta += delta;
    return (90.0 - theta) + scene.elevation;
}

double Sky_light(const SceneSettings& scene, int32_t x, int32_t y)
{
    const double r = Radius(x, y);
    if (r > scene.rmax) return 0.0;
    const double horizon = r / scene.rmax;
    const double tilt = static_cast<double>(x - scene.xcentre) / scene.rmax;
    return scene.sky_level * (1.0 + 0.8 * horizon * horizon) * (1.0 + scene.sky_tilt * tilt);
}

double Beam_light(const SceneSettings& scene, int32_t x, int32_t y)
{
    if (scene.physical) return Physical_beam_light(scene, x, y);
    if (y < scene.top_y || y > scene.laser_y) return 0.0;
    const double centre = Getpathx(y) + scene.wander * std::sin(2.0 * pi * (y - scene.top_y) / 700.0);
    const double offset = x - centre;
    const double s = scene.beam_sigma;
    if (std::fabs(offset) > 8.0 * s) return 0.0;
    const double peak = scene.beam_scale * Phase_function(scene, Scattering_angle(scene, y)) /
                        (std::sqrt(2.0 * pi) * s);
    return peak * std::exp(-offset * offset / (2.0 * s * s));
}

double Falloff(const SceneSettings&, int32_t x, int32_t y)
{
    return Sensitivity(R2thetadeg(Radius(x, y)));
}

uint16_t Sample(const SceneSettings& scene, Prng& prng, bool laser, int32_t x, int32_t y, double hot)
{
    const double read = scene.read_noise;
    double light = hot;
    if (laser) {
        light += (Sky_light(scene, x, y) + Beam_light(scene, x, y)) * Falloff(scene, x, y) *
                 Green_factor(scene, x, y);
    }
    const double level = scene.black_level[Channel(x, y)] + light +
                         std::sqrt(read * read + scene.gain * light) * Next_normal(prng);
    return static_cast<uint16_t>(std::clamp(std::floor(level + 0.5), 0.0, scene.white_level));
}

std::vector<std::pair<size_t, double>> Hot_pixels(const SceneSettings& scene)
{
    Prng prng;
    Seed(prng, scene.hot_seed);
    std::vector<std::pair<size_t, double>> hot;
    for (int32_t i = 0; i < scene.hot_pixels; ++i) {
        const size_t index = size_t(Next_bits(prng) % (uint64_t(frame_width) * frame_height));
        hot.emplace_back(index, scene.hot_level * (1.0 + 9.0 * Next_uniform(prng)));
    }
    std::sort(hot.begin(), hot.end());
    return hot;
}

int32_t Ninety_degree_row(const SceneSettings& scene)
{
    return Row_of_90_degrees(scene);
}

std::vector<TruthRow> Truth_table(const SceneSettings& scene)
{
    std::vector<TruthRow> truth;
    for (int32_t y = scene.top_y; y < scene.laser_y; y += 2) {
        TruthRow row;
        row.y = y;
        row.x = Getpathx(y);
        row.alpha = Scattering_angle(scene, y);
        double variance;
        Band_sum(scene, y, row.x, row.net, variance);
        row.net_sigma = std::sqrt(variance + Background_variance(scene, y, row.x));
        truth.push_back(row);
    }

    // The scaling coefficient: the median of the net signals of the window rows
    // around the 90-degree row, each taken to the processed row at or below it and
    // held to the first and last processed rows.
    const int32_t row90 = Row_of_90_degrees(scene);
    const int64_t n = static_cast<int64_t>(truth.size());
    std::vector<double> window;
    for (int64_t v = int64_t{row90} - scene.median; v <= int64_t{row90} + scene.median; v += 2) {
        const int64_t k = std::clamp<int64_t>(Floor_half(v - scene.top_y), 0, n - 1);
        window.push_back(truth[size_t(k)].net);
    }
    const double coefficient = Median(window);
    for (TruthRow& row : truth) row.signal = row.net / coefficient;
    return truth;
}

std::string Picture_name(bool laser, int number)
{
    const std::string name = laser ? laser_name : dark_name;
    if (number == 1) return name;
    const size_t dot = name.rfind('.');
    return name.substr(0, dot) + "_" + std::to_string(number) + name.substr(dot);
}

std::string Write_picture(const SceneSettings& scene, const std::string& folder, bool laser,
                          int number, bool dng)
{
    const std::string path = folder + "/" + Picture_name(laser, number);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return "can't create " + path;
    std::fprintf(file, "P5\n%d %d\n65535\n", frame_width, frame_height);
    std::string raw_file = laser ? laser_raw_name : dark_raw_name;
    if (number > 1) {
        const size_t dot = raw_file.rfind('.');
        raw_file = raw_file.substr(0, dot) + "_" + std::to_string(number) + raw_file.substr(dot);
    }
    const std::string raw_path = folder + "/" + raw_file;
    TIFF* raw = dng ? Open_dng(raw_path) : nullptr;
    if (dng && raw == nullptr) {
        std::fclose(file);
        return "can't create " + raw_path;
    }

    // The two pictures draw from separate streams of the same seed; further frames
    // and darks mix their number into the stream's seed (splitmix64 spreads it).
    Prng prng;
    uint64_t stream = scene.seed * 2 + (laser ? 0 : 1);
    if (number > 1) {
        uint64_t mixer = uint64_t(number) * 0x9E3779B97F4A7C15ULL;
        stream ^= Splitmix64(mixer) | (uint64_t{1} << 63);
    }
    Seed(prng, stream);
    std::vector<unsigned char> row(2 * size_t(frame_width));
    std::vector<uint16_t> raw_row(static_cast<size_t>(frame_width));
    bool written = true;
    bool raw_written = true;
    const std::vector<std::pair<size_t, double>> hot = Hot_pixels(scene);
    auto next_hot = hot.begin();
    for (int32_t y = 0; y < frame_height && written; ++y) {
        for (int32_t x = 0; x < frame_width; ++x) {
            const size_t index = size_t(y) * frame_width + size_t(x);
            double excess = 0.0;
            for (; next_hot != hot.end() && next_hot->first == index; ++next_hot) excess += next_hot->second;
            const uint16_t s = Sample(scene, prng, laser, x, y, excess);
            Store_sample(row.data(), size_t(x), s);
            raw_row[size_t(x)] = s;
        }
        written = std::fwrite(row.data(), 1, row.size(), file) == row.size();
        if (raw != nullptr && raw_written) {
            raw_written = TIFFWriteScanline(raw, raw_row.data(), static_cast<uint32_t>(y), 0) == 1;
        }
    }
    written = std::fclose(file) == 0 && written;
    if (!written) return "can't write " + path;
    if (raw != nullptr) {
        const int64_t taken = laser ? scene.start_time + (number - 1) * scene.frame_interval
                                    : scene.start_time - number * scene.frame_interval;
        raw_written = Close_dng(raw, taken) && raw_written;
        if (!raw_written) return "can't write " + raw_path;
    }
    return "";
}

std::string Write_configuration(const SceneSettings& scene, const std::string& folder)
{
    char numbers[256];
    std::snprintf(numbers, sizeof numbers, "%g %g %d %d %d 10000 100 %d %d %d\n",
                  double{scene.laserdistance}, double{scene.elevation}, scene.band_width,
                  scene.sidescale, scene.median, scene.xcentre, scene.ycentre, scene.rmax);
    const std::string dark = scene.dark_frame ? dark_name : "NODARK";
    return Write_text(folder + "/tavrolinconfig.txt",
                      std::string(laser_name) + " " + dark + " " + numbers);
}

std::string Write_path(const SceneSettings& scene, const std::string& folder)
{
    return Write_text(folder + "/tavrolinpath.txt",
                      std::to_string(scene.top_x) + " " + std::to_string(scene.top_y) + "\n" +
                          std::to_string(scene.laser_x) + " " + std::to_string(scene.laser_y) + "\n");
}

std::string Write_truth(const std::vector<TruthRow>& truth, const std::string& folder)
{
    std::string text = "y(pixel)\tx(pixel)\ts.angle(deg)\tnet(expected)\tnet.sigma\tsignal(truth)\n";
    char line[256];
    for (const TruthRow& row : truth) {
        std::snprintf(line, sizeof line, "%d\t%d\t%.6f\t%.3f\t%.3f\t%.7g\n", row.y, row.x,
                      row.alpha, row.net, row.net_sigma, row.signal);
        text += line;
    }
    return Write_text(folder + "/" + truth_name, text);
}

}  // namespace scene_model
