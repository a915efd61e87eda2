#include "input/pgm.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <limits>

#include "driver/console.h"
#include "driver/run_codes.h"
#include "driver/settings.h"
#include "input/picture_file.h"
#include "input/raw_picture.h"

int32_t hsize = 0;
int32_t vsize = 0;
int32_t resolution = 0;
ImagePlane value;
ImagePlane value_bckg;

namespace {

constexpr int32_t sixteen_bit_maxval = 65535;

// The first cell origin and one past the last cell column (or row) that a run of
// pixel positions from `first` to `last` reads; a cell's origin is the position
// less its remainder by 2, which truncates toward zero.
void Cell_extent(int64_t first, int64_t last, int64_t& lowest, int64_t& beyond)
{
    lowest = first - first % 2;
    beyond = last - last % 2 + 2;
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
    Advice() << "The pictures must be 16-bit binary PGM files (P5) or camera raw files; "
              << dcraw_advice << std::endl;
    return code;
}

int End_not_16_bit(int32_t maxval)
{
    const int code = End_stage(exit_not_16_bit, "PGM file has not a 16-bit brightness encoding");
    if (maxval > 0 && maxval <= 255) {
        Advice() << "The picture holds 8-bit samples; " << dcraw_advice << std::endl;
    } else if (maxval == 0) {
        Advice() << "The header's numbers could not be read (a comment line in the header?); "
                  << dcraw_advice << std::endl;
    } else {
        Advice() << "The maximum value must be 65535; " << dcraw_advice << std::endl;
    }
    return code;
}

// Which picture failed to open, after the message that names its file.
void Print_open_advice(bool laser)
{
    Advice() << (laser ? "The laser picture is token 1" : "The dark picture is token 2 (NODARK for none)")
              << " of '" << config_file_name
              << "'; names are taken relative to the folder tavrolin runs in." << std::endl;
}

// A picture file after the steps that both pictures take: a PGM, or a raw file
// whose samples are still to be decoded.
struct Opened_picture {
    std::shared_ptr<PictureBytes> file;
    std::unique_ptr<RawPicture> raw;   // a raw file, else none
    size_t header_end = 0;   // a PGM's offset just after the maximum value
    int32_t width = 0;
    int32_t height = 0;
    int32_t maxval = 0;
};

// Makes the file's first `length` bytes the bytes at hand; false after a message
// when they can't be had.
bool Load_or_report(PictureBytes& file, size_t length, const char* name)
{
    const std::string reason = file.Load(length);
    if (reason.empty()) return true;
    End_stage(exit_bad_picture, "Picture '" + std::string(name) + "' can't be read: " + reason);
    return false;
}

// True when the first bytes read hold the whole header, as far as the header can
// be read, or the whole file: a header that runs to their end needs more of them.
bool Header_within_first_bytes(const PictureBytes& file)
{
    if (file.size() >= file.file_size()) return true;
    Byte_stream probe(file.data(), file.size());
    std::string identifier;
    int32_t width = 0, height = 0, maxval = 0;
    if (!Read_pgm_identifier(probe, identifier)) return true;
    Read_pgm_header(probe, width, height, maxval);
    return probe.Position() < file.size();
}

// The steps both pictures take: opens the file, checks the identifier, prints
// `before_opened` and the opened line, reads the header into `picture` and prints
// it, and checks that the samples are 16-bit. A file that is not a PGM but a raw
// file that LibRaw knows shows the same lines: its full raw frame's size, and 65535
// levels, as DCRAW's 16-bit PGM of it declares. Returns 0 to go on, or the exit code.
int Open_picture(const char* name, bool laser, Opened_picture& picture)
{
    auto file = std::make_shared<PictureBytes>();
    const std::string failure = Open_picture_file(name, *file);
    if (!failure.empty()) {
        const int code = End_stage(exit_bad_picture, failure);
        Print_open_advice(laser);
        return code;
    }
    if (!Header_within_first_bytes(*file) && !Load_or_report(*file, file->file_size(), name)) {
        return exit_bad_picture;
    }
    Byte_stream in(file->data(), file->size());
    std::string identifier;
    if (!Read_pgm_identifier(in, identifier)) {
        // LibRaw reads the whole file; one that can't be had is no raw file.
        auto raw = std::make_unique<RawPicture>();
        std::string reason;
        const Raw_opening opening =
            file->Load(file->file_size()).empty() ? raw->Open(*file, name, reason) : raw_not_known;
        switch (opening) {
        case raw_not_known:
            return End_invalid(identifier, name);
        case raw_refused:
            return End_stage(exit_bad_picture, reason);
        case raw_opened:
            break;
        }
        picture.width = raw->Width();
        picture.height = raw->Height();
        picture.maxval = sixteen_bit_maxval;
        picture.raw = std::move(raw);
    }
    Console() << (laser ? "" : "\n") << name << " file was opened succesfully..." << std::endl;
    if (!picture.raw) Read_pgm_header(in, picture.width, picture.height, picture.maxval);
    Print_sizes(picture.width, picture.height, picture.maxval);
    if (picture.maxval != sixteen_bit_maxval) return End_not_16_bit(picture.maxval);
    picture.header_end = in.Position();
    picture.file = std::move(file);
    return 0;
}

// Takes the laser picture's number of samples from an opened picture into `plane`
// and ends the line with "OK". Returns 0 to go on, or the exit code.
int Take_samples(const Opened_picture& picture, const char* name, ImagePlane& plane)
{
    // Only the bytes up to the last sample are mapped, once the file is known to
    // hold them.
    const size_t count = size_t(hsize) * size_t(vsize);
    if (!picture.raw && picture.header_end < picture.file->file_size() &&
        (picture.file->file_size() - picture.header_end - 1) / 2 >= count) {
        const std::string reason = picture.file->Load(picture.header_end + 1 + 2 * count);
        if (picture.file->Out_of_memory()) {
            return End_stage(exit_bad_picture, "not enough memory for picture '" +
                                                   std::string(name) + "' (" +
                                                   std::to_string(count) + " samples of 2 bytes)");
        }
        if (!reason.empty()) {
            return End_stage(exit_bad_picture,
                             "Picture '" + std::string(name) + "' can't be read: " + reason);
        }
    }
    const std::string failure =
        picture.raw ? picture.raw->Decode(name, plane)
                    : Take_pgm_samples(picture.file, picture.file->data(), picture.file->size(),
                                       picture.header_end, name, count, plane);
    if (!failure.empty()) return End_stage(exit_bad_picture, failure);
    Console() << "OK" << std::endl;
    return 0;
}

int Read_laser_picture()
{
    Console() << "Reading laser path image from file..." << std::endl;
    Opened_picture picture;
    int code = Open_picture(filename, true, picture);
    hsize = picture.width;
    vsize = picture.height;
    resolution = picture.maxval;
    if (code != 0) return code;
    std::string failure = Check_frame_size(filename, hsize, vsize);
    if (!failure.empty()) return End_stage(exit_bad_picture, failure);
    failure = Check_settings_for_picture(filename, hsize, vsize);
    if (!failure.empty()) return End_stage(exit_bad_configuration, failure);
    Console() << "Reading image data from file..." << std::flush;
    return Take_samples(picture, filename, value);
}

int Read_background_picture()
{
    if (std::strcmp(filename_bckg, no_dark_name) == 0) {
        Console() << "No background image is available - using zero levels." << std::endl;
        value_bckg.clear();
        return 0;
    }
    Console() << "Reading background image data from file..." << std::flush;
    Opened_picture picture;
    if (int code = Open_picture(filename_bckg, false, picture)) return code;
    // The dark samples are subtracted pixel by pixel: the frames must be the same.
    if (picture.width != hsize || picture.height != vsize) {
        return End_stage(exit_bad_picture, "Background picture '" + std::string(filename_bckg) +
                                               "' is " + std::to_string(picture.width) + " x " +
                                               std::to_string(picture.height) +
                                               ", but the laser picture is " +
                                               std::to_string(hsize) + " x " + std::to_string(vsize));
    }
    return Take_samples(picture, filename_bckg, value_bckg);
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

std::string Take_pgm_samples(std::shared_ptr<const void> owner, const unsigned char* bytes,
                             size_t size, size_t at, const std::string& name, size_t count,
                             ImagePlane& plane)
{
    // The separator, then two bytes per sample: compared with what the file holds
    // before the plane is made.
    if (at >= size || (size - at - 1) / 2 < count) {
        return "Picture '" + name + "' ends before its " + std::to_string(count) + " samples";
    }
    plane = ImagePlane(std::move(owner), bytes + at + 1, count);
    return std::string();
}

ImagePlane::ImagePlane(std::shared_ptr<const void> owner, const unsigned char* samples,
                       size_t count)
    : owner_(std::move(owner)), samples_(samples), count_(count)
{
}

ImagePlane::ImagePlane(const ImagePlane& other)
    : owner_(other.owner_), held_(other.held_), count_(other.count_)
{
    samples_ = owner_ ? other.samples_ : held_.data();
}

ImagePlane::ImagePlane(ImagePlane&& other) noexcept
    : owner_(std::move(other.owner_)), held_(std::move(other.held_)),
      samples_(other.samples_), count_(other.count_)
{
    other.samples_ = nullptr;
    other.count_ = 0;
}

ImagePlane& ImagePlane::operator=(ImagePlane other) noexcept
{
    owner_ = std::move(other.owner_);
    held_ = std::move(other.held_);
    samples_ = other.samples_;
    count_ = other.count_;
    other.samples_ = nullptr;
    other.count_ = 0;
    return *this;
}

unsigned char* ImagePlane::Own()
{
    if (owner_) {
        held_.assign(samples_, samples_ + 2 * count_);
        owner_.reset();
    }
    samples_ = held_.data();
    return held_.data();
}

void ImagePlane::set(size_t index, uint16_t sample)
{
    unsigned char* bytes = Own() + 2 * index;
    bytes[0] = static_cast<unsigned char>(sample >> 8);
    bytes[1] = static_cast<unsigned char>(sample & 0xFF);
}

void ImagePlane::assign(size_t count, uint16_t sample)
{
    owner_.reset();
    held_.resize(2 * count);
    for (size_t i = 0; i < count; ++i) {
        held_[2 * i] = static_cast<unsigned char>(sample >> 8);
        held_[2 * i + 1] = static_cast<unsigned char>(sample & 0xFF);
    }
    samples_ = held_.data();
    count_ = count;
}

void ImagePlane::resize(size_t count)
{
    Own();
    held_.resize(2 * count, 0);
    samples_ = held_.data();
    count_ = count;
}

void ImagePlane::clear()
{
    owner_.reset();
    std::vector<unsigned char>().swap(held_);
    samples_ = nullptr;
    count_ = 0;
}

int Read_pictures()
{
    int code = Read_laser_picture();
    if (code != 0) return code;
    return Read_background_picture();
}
