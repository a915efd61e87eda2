#include "input/input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/console.h"

namespace {

// Bytes read from a file at a time.
constexpr size_t block_bytes = size_t{1} << 16;

// What a file of this type is, for the refusal.
const char* Kind_of_file(mode_t mode)
{
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe, not a regular file";
    if (S_ISCHR(mode)) return "a character device, not a regular file";
    if (S_ISBLK(mode)) return "a block device, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
    return "not a regular file";
}

bool Is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int Open_regular_file(const std::string& name, std::string& reason, bool& not_regular)
{
    not_regular = false;
    // A device is not even opened (opening one can have effects of its own); the
    // descriptor's own type below is what counts.
    struct stat status;
    if (stat(name.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        reason = std::string("it is ") + Kind_of_file(status.st_mode);
        not_regular = true;
        return -1;
    }
    const int descriptor = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    if (fstat(descriptor, &status) != 0) {
        reason = std::strerror(errno);
        close(descriptor);
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = std::string("it is ") + Kind_of_file(status.st_mode);
        not_regular = true;
        close(descriptor);
        return -1;
    }
    // Reads of a regular file never wait; the file is read as any other from here on.
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags >= 0) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    return descriptor;
}

InputFile::~InputFile()
{
    if (descriptor_ >= 0) close(descriptor_);
}

bool InputFile::Open(const std::string& name, std::string& reason, bool& not_regular)
{
    descriptor_ = Open_regular_file(name, reason, not_regular);
    if (descriptor_ < 0) return false;
    buffer_.resize(block_bytes);
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return true;
}

InputFile::int_type InputFile::underflow()
{
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    if (descriptor_ < 0 || read_failed_) return traits_type::eof();
    ssize_t got;
    do {
        got = read(descriptor_, buffer_.data(), buffer_.size());
    } while (got < 0 && errno == EINTR);
    if (got < 0) read_failed_ = true;
    if (got <= 0) return traits_type::eof();
    setg(buffer_.data(), buffer_.data(), buffer_.data() + got);
    return traits_type::to_int_type(*gptr());
}

std::streamsize InputFile::xsgetn(char* to, std::streamsize count)
{
    std::streamsize done = 0;
    while (done < count) {
        if (gptr() < egptr()) {
            const std::streamsize buffered = std::min<std::streamsize>(egptr() - gptr(), count - done);
            std::memcpy(to + done, gptr(), size_t(buffered));
            gbump(static_cast<int>(buffered));
            done += buffered;
        } else if (count - done >= static_cast<std::streamsize>(buffer_.size())) {
            // Large reads go straight to their destination.
            if (descriptor_ < 0 || read_failed_) break;
            ssize_t got;
            do {
                got = read(descriptor_, to + done, size_t(count - done));
            } while (got < 0 && errno == EINTR);
            if (got < 0) read_failed_ = true;
            if (got <= 0) break;
            done += got;
        } else if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
            break;
        }
    }
    return done;
}

InputFile::pos_type InputFile::seekoff(off_type offset, std::ios_base::seekdir from,
                                       std::ios_base::openmode which)
{
    const pos_type failed = pos_type(off_type(-1));
    if (descriptor_ < 0 || !(which & std::ios_base::in)) return failed;
    const off_t file_offset = lseek(descriptor_, 0, SEEK_CUR);
    if (file_offset < 0) return failed;
    const off_type here = file_offset - (egptr() - gptr());
    if (from == std::ios_base::cur && offset == 0) return pos_type(here);

    off_t target;
    if (from == std::ios_base::beg) {
        target = lseek(descriptor_, offset, SEEK_SET);
    } else if (from == std::ios_base::cur) {
        target = lseek(descriptor_, here + offset, SEEK_SET);
    } else {
        target = lseek(descriptor_, offset, SEEK_END);
    }
    setg(buffer_.data(), buffer_.data(), buffer_.data());
    return target < 0 ? failed : pos_type(target);
}

InputFile::pos_type InputFile::seekpos(pos_type position, std::ios_base::openmode which)
{
    return seekoff(off_type(position), std::ios_base::beg, which);
}

int TokenReader::Get()
{
    int c;
    if (!pending_.empty()) {
        c = static_cast<unsigned char>(pending_.front());
        pending_.erase(0, 1);
    } else {
        c = in_.sbumpc();
        if (c == std::char_traits<char>::eof()) return c;
    }
    ++bytes_read_;
    return c;
}

void TokenReader::Skip_byte_order_mark()
{
    static const char mark[] = "\xEF\xBB\xBF";
    while (pending_.size() < 3) {
        const int c = in_.sbumpc();
        if (c == std::char_traits<char>::eof()) break;
        pending_.push_back(static_cast<char>(c));
        if (pending_.back() != mark[pending_.size() - 1]) return;
    }
    if (pending_ == mark) {
        pending_.clear();
        bytes_read_ += 3;
    }
}

TokenReader::Result TokenReader::Next(size_t longest, std::string& token)
{
    if (!started_) {
        started_ = true;
        Skip_byte_order_mark();
    }
    token.clear();
    int c;
    do {
        c = Get();
    } while (c != std::char_traits<char>::eof() && Is_space(c));
    if (c == std::char_traits<char>::eof()) return end;
    while (true) {
        if (c == 0) return nul_byte;
        token.push_back(static_cast<char>(c));
        if (token.size() > longest) return too_long;
        c = Get();
        if (c == std::char_traits<char>::eof() || Is_space(c)) return TokenReader::token;
    }
}

std::string Shown_token(const std::string& token, size_t most)
{
    std::string shown;
    for (size_t i = 0; i < token.size() && i < most; ++i) {
        const unsigned char c = static_cast<unsigned char>(token[i]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        } else {
            shown.push_back(static_cast<char>(c));
        }
    }
    if (token.size() > most) shown += "...";
    return shown;
}

Failure Read_input_file(const std::string& name, const std::string& unreadable, int code,
                        const std::function<Failure(std::istream&)>& parse,
                        const std::function<void(const std::string& reason, bool contents)>& advise)
{
    InputFile file;
    std::string reason;
    bool not_regular;
    if (!file.Open(name, reason, not_regular)) {
        const Failure failure = End_stage(code, unreadable + (not_regular ? ": " + reason : std::string()));
        advise(not_regular ? std::string() : reason, false);
        return failure;
    }
    std::istream in(&file);
    // Memory that runs out while the file is read ends the run, as anywhere else: the
    // stream passes the failure on instead of taking it for the file's end.
    in.exceptions(std::ios::badbit);
    errno = 0;
    const Failure parsed = parse(in);
    if (file.Read_failed()) {   // opened, but a read failed (a folder of that name)
        const std::string reason_of_read = errno != 0 ? std::strerror(errno) : "";
        const Failure failure = End_stage(code, unreadable);
        advise(reason_of_read, false);
        return failure;
    }
    if (parsed) {
        End_stage(parsed);
        advise(std::string(), true);
        return parsed;
    }
    return {};
}
