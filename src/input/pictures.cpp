#include "input/pictures.h"

#include <cstring>
#include <ostream>

#include "base/console.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/configuration.h"
#include "input/pgm.h"
#include "input/picture_file.h"
#include "input/raw_picture.h"

namespace {

constexpr int32_t sixteen_bit_maxval = 65535;

Failure Refused(const std::string& reason)
{
    return Failure{exit_bad_picture, reason};
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

void Print_sizes(int32_t width, int32_t height, int32_t maxval)
{
    Console() << "Horizontal size: " << width << std::endl;
    Console() << "Vertical size:   " << height << std::endl;
    Console() << "Number of brightness levels:   " << maxval << std::endl;
}

// How to make a picture that the run reads, after the messages of a picture it can't.
const char* const dcraw_advice =
    "make the 16-bit mosaic from the camera's raw file with: dcraw -E -4 -W -j -t 0 FILE";

Failure End_invalid(const std::string& identifier, const char* name)
{
    Console() << "Identifier of the file: '" << identifier << "'" << std::endl;
    const Failure failure =
        End_stage(exit_bad_picture, "Input file " + std::string(name) + " is not a valid 16-bit PGM file");
    Advice() << "The pictures must be 16-bit binary PGM files (P5) or camera raw files; "
             << dcraw_advice << std::endl;
    return failure;
}

Failure End_not_16_bit(int32_t maxval)
{
    const Failure failure = End_stage(exit_not_16_bit, "PGM file has not a 16-bit brightness encoding");
    if (maxval > 0 && maxval <= 255) {
        Advice() << "The picture holds 8-bit samples; " << dcraw_advice << std::endl;
    } else if (maxval == 0) {
        Advice() << "The header's numbers could not be read (a comment line in the header?); "
                 << dcraw_advice << std::endl;
    } else {
        Advice() << "The maximum value must be 65535; " << dcraw_advice << std::endl;
    }
    return failure;
}

// Which picture failed to open, after the message that names its file.
void Print_open_advice(bool laser)
{
    Advice() << (laser ? "The laser picture is token 1" : "The dark picture is token 2 (NODARK for none)")
             << " of '" << config_file_name
             << "'; names are taken relative to the folder tavrolin runs in." << std::endl;
}

// Opens a picture of the run with the console's lines: the failure that ended the
// opening, or the opened line (after an end of line for the dark picture, whose
// announcement stands before it) and the sizes.
Failure Open_reported(const char* name, bool laser, OpenedPicture& picture)
{
    const Failure failure = Open_picture(name, picture);
    switch (picture.fault) {
    case PictureFault::cannot_open:
        End_stage(failure);
        Print_open_advice(laser);
        return failure;
    case PictureFault::unknown_format:
        return End_invalid(picture.identifier, name);
    case PictureFault::unreadable:
        return End_stage(failure);
    case PictureFault::none:
    case PictureFault::not_16_bit:
        break;
    }
    Console() << (laser ? "" : "\n") << name << " file was opened succesfully..." << std::endl;
    Print_sizes(picture.width, picture.height, picture.maxval);
    if (failure) return End_not_16_bit(picture.maxval);
    return {};
}

// The laser picture's file while its plane keeps it mapped.
std::weak_ptr<const PictureBytes> laser_file;

// Takes the laser picture's number of samples into `plane` and ends the line with "OK".
Failure Take_reported(const OpenedPicture& picture, const char* name, ImagePlane& plane)
{
    const Failure failure = Take_samples(picture, name, size_t(hsize) * size_t(vsize), plane);
    if (failure) return End_stage(failure);
    Console() << "OK" << std::endl;
    return {};
}

Failure Read_laser_picture()
{
    Console() << "Reading laser path image from file..." << std::endl;
    OpenedPicture picture;
    const Failure opening = Open_reported(filename, true, picture);
    hsize = picture.width;
    vsize = picture.height;
    resolution = picture.maxval;
    if (opening) return opening;
    if (Failure failure = Check_frame_size(filename, hsize, vsize)) return End_stage(failure);
    if (Failure failure = Check_settings_for_picture(filename, hsize, vsize)) return End_stage(failure);
    Console() << "Reading image data from file..." << std::flush;
    const Failure failure = Take_reported(picture, filename, value);
    if (!failure && !picture.raw) laser_file = picture.file;
    return failure;
}

Failure Read_background_picture()
{
    if (std::strcmp(filename_bckg, no_dark_name) == 0) {
        Console() << "No background image is available - using zero levels." << std::endl;
        value_bckg.clear();
        return {};
    }
    Console() << "Reading background image data from file..." << std::flush;
    OpenedPicture picture;
    if (Failure failure = Open_reported(filename_bckg, false, picture)) return failure;
    // The dark samples are subtracted pixel by pixel: the frames must be the same.
    if (picture.width != hsize || picture.height != vsize) {
        return End_stage(exit_bad_picture, "Background picture '" + std::string(filename_bckg) + "' is " +
                                               std::to_string(picture.width) + " x " +
                                               std::to_string(picture.height) + ", but the laser picture is " +
                                               std::to_string(hsize) + " x " + std::to_string(vsize));
    }
    return Take_reported(picture, filename_bckg, value_bckg);
}

}  // namespace

OpenedPicture::OpenedPicture() = default;
OpenedPicture::~OpenedPicture() = default;
OpenedPicture::OpenedPicture(OpenedPicture&&) noexcept = default;

Failure Open_picture(const std::string& name, OpenedPicture& picture)
{
    auto file = std::make_shared<PictureBytes>();
    if (Failure failure = Open_picture_file(name, *file)) {
        picture.fault = PictureFault::cannot_open;
        return failure;
    }
    if (!Header_within_first_bytes(*file)) {
        if (Failure failure = file->Load(file->file_size())) {
            picture.fault = PictureFault::unreadable;
            return failure;
        }
    }
    Byte_stream in(file->data(), file->size());
    if (Read_pgm_identifier(in, picture.identifier)) {
        Read_pgm_header(in, picture.width, picture.height, picture.maxval);
        picture.header_end = in.Position();
    } else {
        // LibRaw reads the whole file; one that can't be had is no raw file.
        auto raw = std::make_unique<RawPicture>();
        Failure refusal;
        const bool loaded = !file->Load(file->file_size());
        if (!loaded && file->Out_of_memory()) {
            picture.fault = PictureFault::unreadable;
            return Refused("not enough memory for picture '" + name + "' (" + std::to_string(file->file_size()) +
                           " bytes)");
        }
        const Raw_opening opening = loaded ? raw->Open(*file, name, refusal) : raw_not_known;
        if (opening == raw_not_known) {
            picture.fault = PictureFault::unknown_format;
            return Refused("Picture '" + name + "' is neither a binary PGM (P5) nor a raw file that " +
                           "LibRaw knows (identifier '" + picture.identifier + "')");
        }
        if (opening == raw_refused) {
            picture.fault = PictureFault::unreadable;
            return refusal;
        }
        picture.width = raw->Width();
        picture.height = raw->Height();
        picture.maxval = sixteen_bit_maxval;
        picture.raw = std::move(raw);
    }
    picture.file = std::move(file);
    if (picture.maxval != sixteen_bit_maxval) {
        picture.fault = PictureFault::not_16_bit;
        return Failure{exit_not_16_bit, "Picture '" + name + "' has a maximum value of " +
                                            std::to_string(picture.maxval) + ", not 65535 (16-bit samples)"};
    }
    return {};
}

Failure Take_samples(const OpenedPicture& picture, const std::string& name, size_t count, ImagePlane& plane)
{
    if (picture.raw) return picture.raw->Decode(name, plane);
    // Only the bytes up to the last sample are mapped, once the file is known to
    // hold them.
    PictureBytes& file = *picture.file;
    if (picture.header_end < file.file_size() && (file.file_size() - picture.header_end - 1) / 2 >= count) {
        const Failure failure = file.Load(picture.header_end + 1 + 2 * count);
        if (file.Out_of_memory()) {
            return Refused("not enough memory for picture '" + name + "' (" + std::to_string(count) +
                           " samples of 2 bytes)");
        }
        if (failure) return failure;
    }
    return Take_pgm_samples(picture.file, file.data(), file.size(), picture.header_end, name, count, plane);
}

Failure Read_picture(const std::string& name, LoadedPicture& picture)
{
    OpenedPicture opened;
    if (Failure failure = Open_picture(name, opened)) return failure;
    if (Failure failure = Check_frame_limit(name, opened.width, opened.height)) return failure;
    picture.width = opened.width;
    picture.height = opened.height;
    return Take_samples(opened, name, size_t(opened.width) * size_t(opened.height), picture.plane);
}

Failure Read_pictures()
{
    laser_file.reset();
    if (Failure failure = Read_laser_picture()) return failure;
    return Read_background_picture();
}

HeldFileBytes Laser_picture_file_bytes()
{
    // The plane's view keeps the file mapped; once the plane lets it go, nothing is held.
    const std::shared_ptr<const PictureBytes> file = laser_file.lock();
    if (!file) return {};
    return HeldFileBytes{file->data(), file->size()};
}
