#include "input/lossless_jpeg.h"

#include <vector>

namespace {

// A Huffman table as a lookup by the next 16 bits of the coded data: the code's
// length (high byte) and the difference size it stands for (low byte); 0 where no
// code of the table begins with those bits.
using HuffmanTable = std::vector<uint16_t>;

size_t Read16(const unsigned char* at) { return size_t(at[0]) << 8 | at[1]; }

// The table whose 16 code counts and values begin at `at` (`left` bytes there);
// the bytes it took, or 0 when the counts or values can't make a table: more codes
// of a length than the shorter ones leave room for, or a difference size beyond 16.
size_t Make_table(const unsigned char* at, size_t left, HuffmanTable& table)
{
    if (left < 16) return 0;
    size_t codes = 0;
    for (size_t i = 0; i < 16; ++i) codes += at[i];
    if (codes == 0 || codes > 256 || 16 + codes > left) return 0;
    table.assign(size_t{1} << 16, 0);
    uint32_t code = 0;
    const unsigned char* value = at + 16;
    for (uint32_t length = 1; length <= 16; ++length, code <<= 1) {
        for (unsigned n = 0; n < at[length - 1]; ++n, ++code, ++value) {
            if (code >= (1u << length) || *value > 16) return 0;
            const uint32_t first = code << (16 - length);
            for (uint32_t j = 0; j < (1u << (16 - length)); ++j) table[first + j] = uint16_t(length << 8 | *value);
        }
    }
    return 16 + codes;
}

// The coded data of a scan as bits: a 0xFF byte followed by 0x00 is one 0xFF byte of
// data; any other marker, or the file's end, ends the data. Bits taken beyond the end
// are counted, not read.
class CodedBits {
public:
    CodedBits(const unsigned char* at, const unsigned char* end) : at_(at), end_(end) {}

    // The next 16 bits; after it at least 32 more bits may be skipped (the buffer
    // holds 49 or more, the bits above them are left as they are and never read).
    uint32_t Peek16()
    {
        Fill();
        return uint32_t(buffer_ >> (held_ - 16)) & 0xFFFF;
    }
    void Skip(int bits) { held_ -= bits; }
    // True when bits beyond the data's end were taken.
    bool Overrun() const { return held_ < beyond_; }
    // The data bits not yet taken.
    uint64_t Left()
    {
        Fill();
        uint64_t bytes = 0;
        for (const unsigned char* p = at_; p < end_ && !At_marker(p); p += *p == 0xFF ? 2 : 1) ++bytes;
        return uint64_t(held_ - beyond_) + 8 * bytes;
    }
    // Goes past a restart marker, which must follow the data taken so far (after
    // the bits that fill their last byte).
    bool Restart()
    {
        Fill();
        Skip(held_ % 8);
        if (held_ != beyond_) return false;
        if (at_ >= end_ || *at_ != 0xFF) return false;
        while (at_ < end_ && *at_ == 0xFF) ++at_;
        if (at_ >= end_ || *at_ < 0xD0 || *at_ > 0xD7) return false;
        ++at_;
        buffer_ = 0;
        held_ = beyond_ = 0;
        return true;
    }

private:
    bool At_marker(const unsigned char* p) const { return *p == 0xFF && (p + 1 >= end_ || p[1] != 0x00); }
    void Fill()
    {
        while (held_ <= 48) {
            unsigned byte = 0;
            if (beyond_ > 0 || at_ >= end_ || At_marker(at_)) {
                beyond_ += 8;
            } else {
                byte = *at_;
                at_ += byte == 0xFF ? 2 : 1;
            }
            buffer_ = buffer_ << 8 | byte;
            held_ += 8;
        }
    }

    const unsigned char* at_;
    const unsigned char* end_;
    uint64_t buffer_ = 0;
    int held_ = 0;     // bits in the buffer
    int beyond_ = 0;   // of them, bits beyond the data's end (the last ones)
};

}  // namespace

std::string Lossless_jpeg_fault(const unsigned char* data, size_t size, const JpegNeeds& needs)
{
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return "no start-of-image marker";
    HuffmanTable tables[4];
    unsigned frame = 0, precision = 0, components = 0, restart = 0;
    uint64_t high = 0, wide = 0;
    size_t at = 2;
    // The marker segments up to the scan.
    for (;;) {
        while (at < size && data[at] == 0xFF && at + 1 < size && data[at + 1] == 0xFF) ++at;
        if (at + 4 > size || data[at] != 0xFF) return "its marker segments run past the file's end or are broken";
        const unsigned marker = data[at + 1];
        const size_t length = Read16(data + at + 2);
        if (marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD8) || marker == 0x01) {
            return "a marker where a marker segment belongs";
        }
        if (length < 2 || at + 2 + length > size) return "a marker segment runs past the file's end";
        const unsigned char* segment = data + at + 4;
        const size_t bytes = length - 2;
        if (marker == 0xC4) {
            for (size_t used = 0; used < bytes;) {
                const unsigned id = segment[used];
                if ((id & ~0x13u) != 0) return "a malformed Huffman table";
                HuffmanTable other;   // a table of the other class: checked, not used
                const size_t made =
                    Make_table(segment + used + 1, bytes - used - 1, (id & 0x10u) == 0 ? tables[id] : other);
                if (made == 0) return "a malformed Huffman table";
                used += 1 + made;
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (bytes < 6) return "a frame header too short";
            frame = marker;
            precision = segment[0];
            high = Read16(segment + 1);
            wide = Read16(segment + 3);
            components = segment[5];
            if (bytes != 6 + 3 * size_t(components)) return "a frame header of the wrong length";
            if (!needs.dng && bytes == 9) ++at;
        } else if (marker == 0xDD) {
            if (bytes != 2) return "a restart interval of the wrong length";
            restart = unsigned(Read16(segment));
        } else if (marker == 0xDA) {
            if (frame == 0) return "a scan before any frame header";
            if (bytes < 1 || bytes != 4 + 2 * size_t(segment[0])) return "a scan header of the wrong length";
            if (segment[0] != components) return "a scan that doesn't hold every component of the frame";
            if (frame == 0xC3 && (segment[bytes - 3] < 1 || segment[bytes - 3] > 7)) return "no lossless predictor";
            at += 2 + length;
            break;
        }
        at += 2 + length;
    }
    if (frame != 0xC3 && frame != 0xC1) return "a frame that is not lossless";
    if (precision < 2 || precision > 16) return "a precision of " + std::to_string(precision) + " bits";
    if (components < 1 || components > 4) return std::to_string(components) + " components";
    const uint64_t row = wide * components;
    if (!needs.dng ? row * high < needs.width * needs.height : row < needs.width || high < needs.height) {
        return "its frame of " + std::to_string(wide) + " x " + std::to_string(high) + " samples of " +
               std::to_string(components) + " components doesn't cover the " + std::to_string(needs.width) +
               " x " + std::to_string(needs.height) + " samples it stands for";
    }
    if (frame != 0xC3) return {};   // a variant of the decoder's own, taken at its word
    // The decoder uses table k for component k, else the one before it.
    const HuffmanTable* table_of[4] = {};
    for (unsigned c = 0; c < components; ++c) {
        table_of[c] = !tables[c].empty() ? &tables[c] : c > 0 ? table_of[c - 1] : nullptr;
        if (table_of[c] == nullptr) return "no Huffman table for its samples";
    }

    CodedBits bits(data + at, data + size);
    const auto ended = [&](uint64_t y) {
        return "its coded data end at row " + std::to_string(y) + " of " + std::to_string(high);
    };
    for (uint64_t y = 0; y < high; ++y) {
        if (restart != 0 && y > 0 && y * wide % restart == 0 && !bits.Restart()) {
            return "no restart marker where row " + std::to_string(y) + " begins";
        }
        for (uint64_t x = 0; x < row; ++x) {
            const uint16_t code = (*table_of[x % components])[bits.Peek16()];
            if (code == 0) {
                return bits.Left() < 16 ? ended(y) : "coded data that are no Huffman code (row " + std::to_string(y) + ")";
            }
            bits.Skip(code >> 8);
            const int difference = code & 0xFF;
            if (difference < 16 || needs.old_dng) bits.Skip(difference);
            if (bits.Overrun()) return ended(y);
        }
    }
    // What follows the last sample fills its byte, or a few bytes more.
    if (bits.Left() >= 64) return "coded data beyond the frame's last sample";
    return {};
}
