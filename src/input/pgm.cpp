#include "input/pgm.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/run_codes.h"
#include "base/settings.h"

namespace {

// The first cell origin and one past the last cell column (or row) that a run of
// pixel positions from `first` to `last` reads; a cell's origin is the position
// less its remainder by 2, which truncates toward zero.
void Cell_extent(int64_t first, int64_t last, int64_t& lowest, int64_t& beyond)
{
    lowest = first - first % 2;
    beyond = last - last % 2 + 2;
}

Failure Refused(const std::string& reason)
{
    return Failure{exit_bad_picture, reason};
}

}  // namespace

Byte_stream::Buffer::Buffer(const unsigned char* bytes, size_t size)
{
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    setg(begin, begin, begin + size);
}

Byte_stream::Byte_stream(const unsigned char* bytes, size_t size)
    : std::istream(&buffer_), buffer_(bytes, size)
{
}

Byte_stream::Byte_stream(const std::string& bytes)
    : Byte_stream(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())
{
}

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

Failure Check_frame_limit(const std::string& name, int32_t width, int32_t height)
{
    const std::string frame = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        return Refused("Picture '" + name + "' has a size of " + frame + ": both must be positive");
    }
    if (int64_t{width} * height > std::numeric_limits<int32_t>::max()) {
        return Refused("Picture '" + name + "' is too large: " + frame +
                       " samples are more than 32-bit indices can reach");
    }
    if (int64_t{width} * height > frame_sample_limit) {
        return Refused("Picture '" + name + "' is too large: " + frame + " are " +
                       std::to_string(int64_t{width} * height) + " samples, more than the limit of " +
                       std::to_string(frame_sample_limit) + " (four frames of the camera)");
    }
    return {};
}

Failure Check_frame_size(const std::string& name, int32_t width, int32_t height)
{
    if (Failure failure = Check_frame_limit(name, width, height)) return failure;
    const std::string frame = std::to_string(width) + " x " + std::to_string(height);
    if (width % 2 != 0 || height % 2 != 0) {
        return Refused("Picture '" + name + "' has a size of " + frame +
                       ": the 2x2 colour cells need an even width and height");
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
        return Refused("Picture '" + name + "' can't hold the centre square of " +
                       std::to_string(center_size) + " pixels (parameter center_size)");
    }
    if (width < x_beyond || height < y_beyond) {
        return Refused("Picture '" + name + "' is too small: " + frame + ", but the covered pixels" +
                       (center_size > 0 ? " and the centre square" : "") + " need at least " +
                       std::to_string(x_beyond) + " x " + std::to_string(y_beyond));
    }
    return {};
}

Failure Take_pgm_samples(std::shared_ptr<const void> owner, const unsigned char* bytes,
                         size_t size, size_t at, const std::string& name, size_t count,
                         ImagePlane& plane)
{
    // The separator, then two bytes per sample: compared with what the file holds
    // before the plane is made.
    if (at >= size || (size - at - 1) / 2 < count) {
        return Refused("Picture '" + name + "' ends before its " + std::to_string(count) + " samples");
    }
    plane = ImagePlane(std::move(owner), bytes + at + 1, count);
    return {};
}

