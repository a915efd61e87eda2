// The check of a lossless JPEG stream in a raw file before LibRaw decodes it. LibRaw's
// decoder takes whatever the stream holds: a stream cut short, a scan of another
// size or coded data that are no Huffman codes at all give samples of zeros or of
// rubbish, without a word. Here the stream is walked as the decoder will walk it: its
// marker segments up to the scan (a lossless frame header of the precision and size
// the samples need, well-formed Huffman tables for every component, the scan header),
// then every coded sample of the scan, each a code of its component's table, ending
// where the coded data end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the stream must fill: `width` x `height` samples, a tile or the whole raw frame.
// A stream outside a DNG (a Canon CR2's) has its rows laid out anew over the frame
// (its slices) and needs only as many samples in all; there the decoder also skips a
// byte after a frame header of one component (a writer's quirk it knows). `old_dng`
// for a DNG before version 1.1, whose difference of size 16 is followed by 16 bits.
struct JpegNeeds {
    uint64_t width = 0;
    uint64_t height = 0;
    bool dng = true;
    bool old_dng = false;
};

// Walks the stream that begins at `data` (the file's bytes from there to its end are
// `size`). Empty when the stream is sound; else what is wrong with it, worded to
// follow "its lossless JPEG data are damaged: ".
std::string Lossless_jpeg_fault(const unsigned char* data, size_t size, const JpegNeeds& needs);
