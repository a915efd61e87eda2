// Opening the user's input files so that nothing can make the run wait, and reading
// their whitespace-separated tokens with a bound on every token.
//
// Only regular files are read: a named pipe would hold the run in its open, a device
// such as /dev/zero would feed it without end. The type is checked on the opened
// descriptor, so nothing can be put in the file's place between check and open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

#include "base/failure.h"

// Opens `name` for reading without waiting (a named pipe without a writer would
// otherwise hold the open) and keeps the descriptor only when it is a regular file,
// after following symbolic links. Returns the descriptor, or -1 with `reason` set:
// the system's error text when the open failed ("No such file or directory"), or
// what the file is instead ("it is a directory", "it is a named pipe, not a regular
// file"), with `not_regular` true then.
int Open_regular_file(const std::string& name, std::string& reason, bool& not_regular);

// An input file read through a stream: the stream buffer of an opened regular file,
// which it closes when destroyed. Reads in large blocks; seeks and tells like a file.
class InputFile : public std::streambuf {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() override;

    // Opens `name` as Open_regular_file does; false with its reason and kind.
    bool Open(const std::string& name, std::string& reason, bool& not_regular);
    // True once a read of the file failed (as opposed to its end).
    bool Read_failed() const { return read_failed_; }
    int Descriptor() const { return descriptor_; }

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char* to, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    int descriptor_ = -1;
    bool read_failed_ = false;
    std::vector<char> buffer_;
};

// The tokens of a text file: whitespace-separated as the stream's formatted input
// separates them (blank, tab, line feed, vertical tab, form feed, carriage return),
// each read only up to a bound. A UTF-8 byte-order mark at the very start is skipped.
class TokenReader {
public:
    enum Result { token, end, too_long, nul_byte };

    explicit TokenReader(std::istream& in) : in_(*in.rdbuf()) {}

    // Reads the next token into `token`. `too_long` when it has more than `longest`
    // characters: the token then holds its first longest + 1 characters and the rest
    // is not read. `nul_byte` when a NUL byte comes before the token's end. `end` when
    // only whitespace is left.
    Result Next(size_t longest, std::string& token);

    // Bytes read so far (the byte-order mark included): after a `nul_byte` result,
    // the NUL byte is the last of them.
    uint64_t Bytes_read() const { return bytes_read_; }

private:
    int Get();
    void Skip_byte_order_mark();

    std::streambuf& in_;
    bool started_ = false;
    std::string pending_;   // bytes taken while looking for the byte-order mark
    uint64_t bytes_read_ = 0;
};

// A token as a refusal message shows it: at most `most` characters and "..." when it
// has more; control bytes written as \xNN so that nothing reaches the terminal raw.
std::string Shown_token(const std::string& token, size_t most = 40);

// The reading of a text input of the run (the configuration, the path): opens `name`
// as a regular file and hands it to `parse`, which fails with what is wrong with the
// contents. A file that can't be opened or read ends the stage with `unreadable` (and
// the system's reason, for a file that is not a regular one), a parse failure with
// its own text; `advise` then says what helps, with the system's reason where there
// is one. Fails with `code` after the console's failure line.
Failure Read_input_file(const std::string& name, const std::string& unreadable, int code,
                        const std::function<Failure(std::istream&)>& parse,
                        const std::function<void(const std::string& reason, bool contents)>& advise);
