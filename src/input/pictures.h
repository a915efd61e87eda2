// The pictures of a run, in either accepted format (a 16-bit binary PGM as DCRAW
// writes the sensor mosaic, or the camera's raw file itself): the reader that opens a
// picture, reads its header and takes its samples without a word on the console, and
// the picture stage of the run, which reports each step on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/failure.h"
#include "base/image_plane.h"

class PictureBytes;
class RawPicture;

// How far opening a picture got, for the console lines the stage prints.
enum class PictureFault {
    none,
    cannot_open,      // missing, unreadable or not a regular file
    unknown_format,   // neither a PGM ("P5") nor a raw file LibRaw knows
    unreadable,       // its bytes can't be had, or a raw file LibRaw refuses
    not_16_bit,       // identified and its header read, but not 65535 levels
};

// A picture file opened and identified: a PGM, or a raw file whose samples are still
// to be decoded. A raw file shows the full raw frame's size and 65535 levels, as
// DCRAW's 16-bit PGM of it declares.
struct OpenedPicture {
    OpenedPicture();
    ~OpenedPicture();
    OpenedPicture(OpenedPicture&&) noexcept;

    std::shared_ptr<PictureBytes> file;
    std::unique_ptr<RawPicture> raw;   // a raw file, else none
    PictureFault fault = PictureFault::none;
    std::string identifier;   // the first two bytes as text, for a file of unknown format
    size_t header_end = 0;    // a PGM's offset just after the maximum value
    int32_t width = 0;
    int32_t height = 0;
    int32_t maxval = 0;
};

// Opens `name`, identifies it and reads its header. Fails with code 2 (`fault` says
// how far it got) or, for a maximum value other than 65535, code 3.
Failure Open_picture(const std::string& name, OpenedPicture& picture);

// Takes `count` samples of an opened picture into `plane` (a PGM's file is mapped
// only as far as its samples reach, once it is known to hold them). Fails with code 2.
Failure Take_samples(const OpenedPicture& picture, const std::string& name, size_t count,
                     ImagePlane& plane);

// A whole picture read quietly: Open_picture, a size within the frame limit, and its
// samples. For pictures that no console reports (the darks of a night's master dark).
struct LoadedPicture {
    int32_t width = 0;
    int32_t height = 0;
    ImagePlane plane;
};
Failure Read_picture(const std::string& name, LoadedPicture& picture);

// The picture stage: reads the laser picture and the dark picture (or leaves the dark
// plane empty, the plane of zeros, for "NODARK"), each a PGM or a raw file, with the
// console's lines. Fails with 2 for a picture that is neither a usable 16-bit PGM nor
// a usable raw file (or a picture there is no memory for), 3 for a maximum value
// other than 65535, 4 for an image centre outside the laser picture or an rmax beyond
// its diagonal (Check_settings_for_picture).
Failure Read_pictures();

// The bytes of the laser picture's file from its first byte, as the last picture stage
// mapped them, while its plane still holds them: the header and every sample of a PGM.
// None for a raw file, whose decoded samples are the program's own.
struct HeldFileBytes {
    const unsigned char* data = nullptr;
    size_t size = 0;
};
HeldFileBytes Laser_picture_file_bytes();
