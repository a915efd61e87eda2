#include "input/pgm.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <limits>
#include <new>
#include <sys/mman.h>

#include "driver/console.h"
#include "driver/run_codes.h"
#include "driver/settings.h"
#include "input/input_file.h"

int32_t hsize = 0;
int32_t vsize = 0;
int32_t resolution = 0;
ImagePlane value;
ImagePlane value_bckg;

namespace {

constexpr int32_t sixteen_bit_maxval = 65535;

// Samples read from a picture file at a time (256 KiB).
constexpr size_t samples_per_block = size_t{1} << 17;

// The first cell origin and one past the last cell column (or row) that a run of
// pixel positions from `first` to `last` reads; a cell's origin is the position
// less its remainder by 2, which truncates toward zero.
void Cell_extent(int64_t first, int64_t last, int64_t& lowest, int64_t& beyond)
{
    lowest = first - first % 2;
    beyond = last - last % 2 + 2;
}

// Asks the system to back a fresh plane with large pages where it can: a full frame
// otherwise takes some 13000 page faults per plane. Only a hint; nothing depends on it.
void Prefer_large_pages(void* start, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    const uintptr_t huge = uintptr_t{1} << 21;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(start) + huge - 1) & ~(huge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(huge - 1);
    if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

// Opens a picture (a regular file only) for reading; an empty text on success,
// else the reason.
std::string Open_picture(const std::string& name, InputFile& file)
{
    std::string reason;
    bool not_regular;
    if (!file.Open(name, reason, not_regular)) return "Can't open picture file '" + name + "': " + reason;
    return std::string();
}

void Print_sizes(int32_t width, int32_t height, int32_t maxval)
{
    Console() << "Horizontal size: " << width << std::endl;
    Console() << "Vertical size:   " << height << std::endl;
    Console() << "Number of brightness levels:   " << maxval << std::endl;
}

// How to make a picture that the run reads, after the messages of a picture it can't.
const char* const dcraw_advice =
    "make the 16-bit mosaic from the camera's raw file with: dcraw -E -4 -W -j -t 0 FILE";

int End_invalid(const std::string& identifier, const char* name)
{
    Console() << "Identifier of the file: '" << identifier << "'" << std::endl;
    const int code = End_stage(exit_bad_picture,
                               "Input file " + std::string(name) + " is not a valid 16-bit PGM file");
    Console() << "The pictures must be 16-bit binary PGM files (P5); " << dcraw_advice << std::endl;
    return code;
}

int End_not_16_bit(int32_t maxval)
{
    const int code = End_stage(exit_not_16_bit, "PGM file has not a 16-bit brightness encoding");
    if (maxval > 0 && maxval <= 255) {
        Console() << "The picture holds 8-bit samples; " << dcraw_advice << std::endl;
    } else if (maxval == 0) {
        Console() << "The header's numbers could not be read (a comment line in the header?); "
                  << dcraw_advice << std::endl;
    } else {
        Console() << "The maximum value must be 65535; " << dcraw_advice << std::endl;
    }
    return code;
}

// Which picture failed to open, after the message that names its file.
void Print_open_advice(bool laser)
{
    Console() << (laser ? "The laser picture is token 1" : "The dark picture is token 2 (NODARK for none)")
              << " of '" << config_file_name
              << "'; names are taken relative to the folder tavrolin runs in." << std::endl;
}

int Read_laser_picture()
{
    Console() << "Reading laser path image from file..." << std::endl;
    InputFile picture_file;
    std::istream file(&picture_file);
    std::string failure = Open_picture(filename, picture_file);
    if (!failure.empty()) {
        const int code = End_stage(exit_bad_picture, failure);
        Print_open_advice(true);
        return code;
    }
    std::string identifier;
    if (!Read_pgm_identifier(file, identifier)) return End_invalid(identifier, filename);
    Console() << filename << " file was opened succesfully..." << std::endl;
    Read_pgm_header(file, hsize, vsize, resolution);
    Print_sizes(hsize, vsize, resolution);
    if (resolution != sixteen_bit_maxval) return End_not_16_bit(resolution);
    failure = Check_frame_size(filename, hsize, vsize);
    if (!failure.empty()) return End_stage(exit_bad_picture, failure);
    failure = Check_settings_for_picture(filename, hsize, vsize);
    if (!failure.empty()) return End_stage(exit_bad_configuration, failure);
    Console() << "Reading image data from file..." << std::flush;
    failure = Read_pgm_samples(file, filename, size_t(hsize) * size_t(vsize), value);
    if (!failure.empty()) return End_stage(exit_bad_picture, failure);
    Console() << "OK" << std::endl;
    return 0;
}

int Read_background_picture()
{
    const size_t count = size_t(hsize) * size_t(vsize);
    if (std::strcmp(filename_bckg, no_dark_name) == 0) {
        Console() << "No background image is available - using zero levels." << std::endl;
        value_bckg.clear();
        value_bckg.shrink_to_fit();
        return 0;
    }
    Console() << "Reading background image data from file..." << std::flush;
    InputFile picture_file;
    std::istream file(&picture_file);
    std::string failure = Open_picture(filename_bckg, picture_file);
    if (!failure.empty()) {
        const int code = End_stage(exit_bad_picture, failure);
        Print_open_advice(false);
        return code;
    }
    std::string identifier;
    if (!Read_pgm_identifier(file, identifier)) return End_invalid(identifier, filename_bckg);
    Console() << std::endl << filename_bckg << " file was opened succesfully..." << std::endl;
    int32_t width = 0;
    int32_t height = 0;
    int32_t maxval = 0;
    Read_pgm_header(file, width, height, maxval);
    Print_sizes(width, height, maxval);
    if (maxval != sixteen_bit_maxval) return End_not_16_bit(maxval);
    // The dark samples are subtracted pixel by pixel: the frames must be the same.
    if (width != hsize || height != vsize) {
        return End_stage(exit_bad_picture, "Background picture '" + std::string(filename_bckg) +
                                               "' is " + std::to_string(width) + " x " +
                                               std::to_string(height) + ", but the laser picture is " +
                                               std::to_string(hsize) + " x " + std::to_string(vsize));
    }
    failure = Read_pgm_samples(file, filename_bckg, count, value_bckg);
    if (!failure.empty()) return End_stage(exit_bad_picture, failure);
    Console() << "OK" << std::endl;
    return 0;
}

}  // namespace

bool Read_pgm_identifier(std::istream& in, std::string& shown)
{
    char bytes[3] = {0, 0, 0};
    in.read(bytes, 3);
    shown.assign(bytes, strnlen(bytes, 2));
    return bytes[0] == 'P' && bytes[1] == '5';
}

void Read_pgm_header(std::istream& in, int32_t& width, int32_t& height, int32_t& maxval)
{
    in >> width >> height >> maxval;
}

std::string Check_frame_size(const std::string& name, int32_t width, int32_t height)
{
    const std::string frame = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        return "Picture '" + name + "' has a size of " + frame + ": both must be positive";
    }
    if (int64_t{width} * height > std::numeric_limits<int32_t>::max()) {
        return "Picture '" + name + "' is too large: " + frame +
               " samples are more than 32-bit indices can reach";
    }
    if (int64_t{width} * height > frame_sample_limit) {
        return "Picture '" + name + "' is too large: " + frame + " are " +
               std::to_string(int64_t{width} * height) + " samples, more than the limit of " +
               std::to_string(frame_sample_limit) + " (four frames of the camera)";
    }
    if (width % 2 != 0 || height % 2 != 0) {
        return "Picture '" + name + "' has a size of " + frame +
               ": the 2x2 colour cells need an even width and height";
    }

    // The cells that the covered-pixel pass and the centre square read.
    int64_t x_low = std::numeric_limits<int64_t>::max(), y_low = x_low;
    int64_t x_beyond = std::numeric_limits<int64_t>::min(), y_beyond = x_beyond;
    auto include = [&](int64_t x_first, int64_t x_last, int64_t y_first, int64_t y_last) {
        int64_t low, beyond;
        Cell_extent(x_first, x_last, low, beyond);
        x_low = std::min(x_low, low);
        x_beyond = std::max(x_beyond, beyond);
        Cell_extent(y_first, y_last, low, beyond);
        y_low = std::min(y_low, low);
        y_beyond = std::max(y_beyond, beyond);
    };
    for (int32_t i = 0; i < border_no; ++i) {   // covered areas: upper bounds exclusive
        include(border[i].x_from, border[i].x_to - 1, border[i].y_from, border[i].y_to - 1);
    }
    if (center_size > 0) {   // around the middle of the picture area, bounds inclusive
        const int64_t x_first = (picture.x_from + picture.x_to) / 2 - center_size / 2;
        const int64_t y_first = (picture.y_from + picture.y_to) / 2 - center_size / 2;
        include(x_first, x_first + center_size - 1, y_first, y_first + center_size - 1);
    }
    if (x_low < 0 || y_low < 0) {
        return "Picture '" + name + "' can't hold the centre square of " +
               std::to_string(center_size) + " pixels (parameter center_size)";
    }
    if (width < x_beyond || height < y_beyond) {
        return "Picture '" + name + "' is too small: " + frame + ", but the covered pixels" +
               (center_size > 0 ? " and the centre square" : "") + " need at least " +
               std::to_string(x_beyond) + " x " + std::to_string(y_beyond);
    }
    return std::string();
}

std::string Read_pgm_samples(std::istream& in, const std::string& name, size_t count,
                             ImagePlane& plane)
{
    const std::string truncated = "Picture '" + name + "' ends before its " +
                                  std::to_string(count) + " samples";
    if (in.get() == std::char_traits<char>::eof()) return truncated;

    // Compare what the header promises with what the file holds before allocating.
    const std::streampos start = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.seekg(start);
    if (start < 0 || end < start || !in) return truncated;
    if (static_cast<uint64_t>(end - start) / 2 < count) return truncated;

    // Block reads into a buffer that stays in the cache, where the bytes are put in
    // order, then appended: the plane is written once, never zero-filled first.
    plane.clear();
    plane.shrink_to_fit();
    std::vector<uint16_t> block;
    try {
        plane.reserve(count);
        block.resize(std::min(count, samples_per_block));
    } catch (const std::bad_alloc&) {
        plane.shrink_to_fit();
        return "not enough memory for picture '" + name + "' (" + std::to_string(count) +
               " samples of 2 bytes)";
    }
    Prefer_large_pages(plane.data(), count * sizeof(uint16_t));
    for (size_t done = 0; done < count;) {
        const size_t samples = std::min(count - done, samples_per_block);
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(2 * samples));
        if (static_cast<size_t>(in.gcount()) != 2 * samples) return truncated;
        // Samples are stored most significant byte first.
        for (size_t i = 0; i < samples; ++i) {
            unsigned char bytes[2];
            std::memcpy(bytes, &block[i], 2);
            block[i] = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
        }
        plane.insert(plane.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(samples));
        done += samples;
    }
    return std::string();
}

int Read_pictures()
{
    int code = Read_laser_picture();
    if (code != 0) return code;
    return Read_background_picture();
}
