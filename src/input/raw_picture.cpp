#include "input/raw_picture.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <libraw/libraw.h>

#include "base/run_codes.h"
#include "input/lossless_jpeg.h"

struct RawPicture::Decoder {
    LibRaw raw;
    int data_errors = 0;   // LibRaw's reports of samples it could not read
};

namespace {

// LibRaw's report of raw data it could not read (the file ends early, or a sample
// block is damaged), counted instead of printed.
void Count_data_error(void* data, const char*, const int)
{
    ++*static_cast<int*>(data);
}

// True for a netpbm identifier ("P1" to "P7"): such a file is never a raw file.
bool Has_netpbm_identifier(const PictureBytes& bytes)
{
    return bytes.size() >= 2 && bytes.data()[0] == 'P' && bytes.data()[1] >= '1' &&
           bytes.data()[1] <= '7';
}

// What is wrong with the lossless JPEG streams that LibRaw's decoder will read
// (input/lossless_jpeg.h), empty when nothing is: LibRaw's lossless JPEG decoders
// take damaged streams without a word and leave samples of zeros or rubbish. Any
// other decoder is taken at its word.
std::string Jpeg_stream_fault(const PictureBytes& bytes, LibRaw& raw)
{
    const std::string decoder = raw.unpack_function_name();
    const bool dng = decoder == "lossless_dng_load_raw()";
    if (!dng && decoder != "lossless_jpeg_load_raw()") return {};
    const auto& unpacker = raw.get_internal_data_pointer()->unpacker_data;
    const libraw_image_sizes_t& sizes = raw.imgdata.sizes;
    JpegNeeds needs;
    needs.width = sizes.raw_width;
    needs.height = sizes.raw_height;
    needs.dng = dng;
    needs.old_dng = raw.imgdata.idata.dng_version != 0 && raw.imgdata.idata.dng_version < 0x1010000;
    const auto fault_at = [&](uint64_t at) {
        return at < bytes.size() ? Lossless_jpeg_fault(bytes.data() + at, size_t(bytes.size() - at), needs)
                                 : std::string("no start-of-image marker");
    };
    const uint64_t offset = static_cast<uint64_t>(unpacker.data_offset);
    if (!dng || unpacker.tile_length >= INT_MAX || unpacker.tile_width == 0 || unpacker.tile_length == 0) {
        return fault_at(offset);
    }
    // A tiled DNG: data_offset is where the tiles' offsets are, four bytes each in
    // the file's byte order, row by row. Each tile must cover its part of the frame.
    const uint64_t across = (uint64_t{sizes.raw_width} + unpacker.tile_width - 1) / unpacker.tile_width;
    const uint64_t tiles = across * ((uint64_t{sizes.raw_height} + unpacker.tile_length - 1) / unpacker.tile_length);
    for (uint64_t i = 0; i < tiles; ++i) {
        needs.width = std::min<uint64_t>(unpacker.tile_width, sizes.raw_width - i % across * unpacker.tile_width);
        needs.height = std::min<uint64_t>(unpacker.tile_length, sizes.raw_height - i / across * unpacker.tile_length);
        const uint64_t at = offset + 4 * i;
        if (at + 4 > bytes.size()) return "the file ends in its tiles' offsets";
        const unsigned char* b = bytes.data() + at;
        const uint32_t tile = unpacker.order == 0x4949
                                  ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24
                                  : uint32_t(b[3]) | uint32_t(b[2]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[0]) << 24;
        const std::string fault = fault_at(tile);
        if (!fault.empty()) return "tile " + std::to_string(i + 1) + " of " + std::to_string(tiles) + ": " + fault;
    }
    return {};
}

}  // namespace

RawPicture::RawPicture() : decoder_(std::make_shared<Decoder>()) {}

RawPicture::~RawPicture() = default;

int32_t RawPicture::Width() const { return decoder_->raw.imgdata.sizes.raw_width; }

int32_t RawPicture::Height() const { return decoder_->raw.imgdata.sizes.raw_height; }

Raw_opening RawPicture::Open(const PictureBytes& bytes, const std::string& name,
                             Failure& refusal)
{
    if (bytes.size() == 0 || Has_netpbm_identifier(bytes)) return raw_not_known;
    LibRaw& raw = decoder_->raw;
    raw.set_dataerror_handler(Count_data_error, &decoder_->data_errors);
    // LibRaw only reads the buffer.
    const int status = raw.open_buffer(const_cast<unsigned char*>(bytes.data()), bytes.size());
    // A file that LibRaw can't identify (a TIFF picture, or a raw file cut short
    // before its samples' places) is no raw file that it knows.
    if (status == LIBRAW_UNSUFFICIENT_MEMORY) {
        refusal = Failure{exit_bad_picture, "not enough memory for picture '" + name + "'"};
        return raw_refused;
    }
    if (status != LIBRAW_SUCCESS) return raw_not_known;
    const std::string refused = "Raw file '" + name + "' can't be used: ";
    const libraw_iparams_t& about = raw.imgdata.idata;
    const libraw_image_sizes_t& sizes = raw.imgdata.sizes;
    if (about.filters < 1000 || about.colors != 3 || about.is_foveon) {
        refusal = Failure{exit_bad_picture, refused + "it holds no Bayer mosaic of red, green and blue cells"};
        return raw_refused;
    }
    // LibRaw gives the colour of a pixel by its place in the visible area, which
    // starts at the margins of the raw frame (a DNG's CFA pattern starts at the
    // corner of its ActiveArea).
    const auto colour = [&](int row, int column) {
        return raw.FC((row - sizes.top_margin) & 15, (column - sizes.left_margin) & 15);
    };
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 2; ++column) {
            const int expected = row % 2 == 0 ? (column == 0 ? 0 : 1) : (column == 0 ? 1 : 2);
            int found = colour(row, column);
            if (found == 3) found = 1;   // the second green
            if (found != expected) {
                refusal = Failure{exit_bad_picture,
                                  refused + "its mosaic is not red, green / green, blue at even coordinates"};
                return raw_refused;
            }
        }
    }
    const std::string fault = Jpeg_stream_fault(bytes, raw);
    if (fault == "no start-of-image marker") {
        refusal = Failure{exit_bad_picture, "Raw file '" + name + "' can't be decoded: its compression is "
                                            "lossless JPEG, but its data hold no JPEG stream"};
        return raw_refused;
    }
    if (!fault.empty()) {
        refusal = Failure{exit_bad_picture, "Raw file '" + name + "' can't be decoded: its lossless JPEG data are "
                                            "damaged: " + fault};
        return raw_refused;
    }
    return raw_opened;
}

Failure RawPicture::Decode(const std::string& name, ImagePlane& plane)
{
    LibRaw& raw = decoder_->raw;
    const int status = raw.unpack();
    const std::string refused = "Raw file '" + name + "' can't be decoded: ";
    const auto refuse = [&](const std::string& reason) { return Failure{exit_bad_picture, refused + reason}; };
    if (status == LIBRAW_UNSUFFICIENT_MEMORY) {
        return Failure{exit_bad_picture, "not enough memory for picture '" + name + "'"};
    }
    if (status != LIBRAW_SUCCESS) return refuse("LibRaw says \"" + std::string(libraw_strerror(status)) + "\"");
    if (decoder_->data_errors > 0) return refuse("it ends before its samples, or they are damaged");
    const libraw_image_sizes_t& sizes = raw.imgdata.sizes;
    const uint16_t* samples = raw.imgdata.rawdata.raw_image;
    if (samples == nullptr) return refuse("it holds no Bayer mosaic of red, green and blue cells");

    const size_t width = sizes.raw_width;
    const size_t pitch = sizes.raw_pitch / sizeof(uint16_t);
    const size_t count = width * sizes.raw_height;
    if (pitch == width) {
        // The rows follow each other without a gap: the samples are put in the planes'
        // byte order in place, and the plane views them.
        uint16_t* in_place = raw.imgdata.rawdata.raw_image;
        unsigned char* stored = reinterpret_cast<unsigned char*>(in_place);
        for (size_t i = 0; i < count; ++i) Store_sample(stored, i, in_place[i]);
        plane = ImagePlane(decoder_, stored, count);
        return {};
    }
    plane.assign(count, 0);
    unsigned char* stored = plane.stored_for_writing();
    for (size_t row = 0; row < sizes.raw_height; ++row) {
        const uint16_t* from = samples + row * pitch;
        for (size_t column = 0; column < width; ++column) Store_sample(stored, row * width + column, from[column]);
    }
    raw.recycle();
    return {};
}
