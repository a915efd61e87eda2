// Camera raw files (the camera's CR2, a DNG, any raw format LibRaw knows) read as
// the sensor's whole stored mosaic: the unprocessed raw values of the full raw
// frame, masked border included, row-major, unscaled and unrotated, exactly the
// samples that "dcraw -E -4 -W -j -t 0" writes into its 16-bit PGM.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/failure.h"
#include "base/image_plane.h"
#include "input/picture_file.h"

enum Raw_opening {
    raw_not_known,   // not a raw file that LibRaw knows
    raw_opened,      // a raw file holding an RGGB mosaic: ready to decode
    raw_refused,     // a raw file that can't be used
};

// A raw file opened by LibRaw, from its identification to its decoded samples.
class RawPicture {
public:
    RawPicture();
    ~RawPicture();
    RawPicture(const RawPicture&) = delete;
    RawPicture& operator=(const RawPicture&) = delete;

    // Identifies the file's bytes as a raw file and checks that it holds a Bayer
    // mosaic whose 2x2 cells, at even coordinates of the raw frame, are red, green /
    // green, blue. A refusal (code 2, naming the file `name`) goes to `refusal`.
    // The bytes must stay until the samples are decoded.
    Raw_opening Open(const PictureBytes& bytes, const std::string& name, Failure& refusal);

    // The full raw frame's size, once opened.
    int32_t Width() const;
    int32_t Height() const;

    // Decodes the samples of the opened file into `plane` (Width() x Height()
    // samples): the plane views LibRaw's buffer of them, put in the planes' byte
    // order where they lie, and keeps it in memory. Fails with code 2 and the reason
    // naming `name`: LibRaw can't decode the samples, or the file ends before them.
    Failure Decode(const std::string& name, ImagePlane& plane);

private:
    struct Decoder;
    std::shared_ptr<Decoder> decoder_;
};
