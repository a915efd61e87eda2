#include "input/configuration.h"

#include <cmath>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <locale>
#include <sstream>

#include "base/console.h"
#include "base/run_codes.h"
#include "base/settings.h"
#include "input/input_file.h"

namespace {

const char* const config_name = config_file_name;

const char* const parameter_names[12] = {
    "filename", "filename_bckg", "laserdistance", "elevation", "pathwidth", "sidescale",
    "median",   "correction",    "center_size",   "xcentre",   "ycentre",   "rmax"};

// The longest number token read: any longer one is refused unread.
constexpr size_t longest_number = 64;

// True when the whole token reads as a number of type T by the stream's formatted
// input in the "C" locale (this also refuses values beyond the type's range).
template <typename T>
bool Token_to_number(const std::string& token, T& number)
{
    std::istringstream tokenstream(token);
    // Memory that runs out while reading ends the run as anywhere else, not as a bad token.
    tokenstream.exceptions(std::ios::badbit);
    tokenstream.imbue(std::locale::classic());
    T parsed{};
    tokenstream >> parsed;
    if (tokenstream.fail() || tokenstream.peek() != std::char_traits<char>::eof()) return false;
    number = parsed;
    return true;
}

Failure Refused(const std::string& reason)
{
    return Failure{exit_bad_configuration, reason};
}

std::string Unreadable(int position, const std::string& token)
{
    return "Can't read parameter " + std::to_string(position) + " (" +
           parameter_names[position - 1] + ") from '" + config_name + "': '" +
           Shown_token(token) + "'";
}

// The refusal of a token that the token reader did not hand over whole: one with a
// NUL byte, or one longer than its bound.
std::string Unread(int position, TokenReader::Result result, const std::string& token,
                   const TokenReader& reader)
{
    if (result == TokenReader::nul_byte) {
        return "Can't read parameter " + std::to_string(position) + " (" +
               parameter_names[position - 1] + ") from '" + config_name +
               "': it holds a NUL byte (byte " + std::to_string(reader.Bytes_read()) +
               " of the file), not text";
    }
    if (position <= 2) {
        return "Parameter " + std::to_string(position) + " (" + parameter_names[position - 1] +
               ") in '" + config_name + "' is a file name of more than " +
               std::to_string(filename_capacity - 1) + " characters ('" + Shown_token(token) +
               "'); at most " + std::to_string(filename_capacity - 1) + " are allowed";
    }
    return Unreadable(position, token) + " has more than " + std::to_string(longest_number) +
           " characters";
}

std::string Out_of_range(int position, const std::string& requirement, const std::string& given)
{
    return "Parameter " + std::to_string(position) + " (" + parameter_names[position - 1] +
           ") in '" + config_name + "' must be " + requirement + ", not " + given;
}

std::string Out_of_range(int position, const std::string& requirement, long long given)
{
    return Out_of_range(position, requirement, std::to_string(given));
}

// A float as the console shows it (six significant digits).
std::string Shown_float(float number)
{
    // Memory that runs out throws here as anywhere, instead of cutting the text short.
    std::ostringstream text;
    text.exceptions(std::ios::badbit);
    text.imbue(std::locale::classic());
    text << number;
    return text.str();
}

// What the file must hold, after a message about one of its tokens.
void Print_token_order()
{
    Advice() << "The twelve tokens of '" << config_name
              << "', in order: laser picture, dark picture or NODARK, laser distance (m), "
                 "elevation (deg), band width (pixels), side band scale, median half window (rows), "
                 "high-level limit, centre square size (pixels), image centre x, image centre y, "
                 "image circle radius (pixels)."
              << std::endl;
}

// Where the run looks for its files, after a file that can't be read; `reason` is
// the system's, or empty when there is none to add.
void Print_folder_advice(const std::string& reason)
{
    if (!reason.empty()) Advice() << "The system's reason: " << reason << "; ";
    Advice() << "tavrolin reads '" << config_name << "', '" << path_file_name
              << "' and the pictures from the folder it is started in." << std::endl;
}

}  // namespace

Failure Parse_configuration(std::istream& in)
{
    TokenReader reader(in);
    std::string token;
    char* const names[2] = {filename, filename_bckg};
    for (int position = 1; position <= 2; ++position) {
        const TokenReader::Result result = reader.Next(filename_capacity - 1, token);
        if (result == TokenReader::end) break;
        if (result != TokenReader::token) return Refused(Unread(position, result, token, reader));
        std::memcpy(names[position - 1], token.c_str(), token.size() + 1);
    }

    // The numbers, in file order. A file that ends early keeps the defaults of the
    // missing tokens.
    float* const floats[] = {&laserdistance, &elevation, nullptr, nullptr, nullptr,
                             &correction,    nullptr,    nullptr, nullptr, nullptr};
    int32_t* const integers[] = {nullptr, nullptr,      &pathwidth, &sidescale, &median,
                                 nullptr, &center_size, &xcentre,   &ycentre,   &rmax};
    for (int position = 3; position <= 12; ++position) {
        int slot = position - 3;
        const TokenReader::Result result = reader.Next(longest_number, token);
        if (result == TokenReader::end) break;
        if (result != TokenReader::token) return Refused(Unread(position, result, token, reader));
        bool read = floats[slot] ? Token_to_number(token, *floats[slot])
                                 : Token_to_number(token, *integers[slot]);
        if (!read) return Refused(Unreadable(position, token));
    }
    const int32_t configured_pathwidth = pathwidth;
    pathwidth = pathwidth / 2;   // the beam band's half width from here on

    // No camera stands at or behind the laser, and an elevation of 180 degrees or
    // more either way leaves no triangle of laser, camera and scattering point.
    if (!(laserdistance > 0.0f)) return Refused(Out_of_range(3, "greater than 0", Shown_float(laserdistance)));
    if (!(elevation > -180.0f && elevation < 180.0f)) {
        return Refused(
            Out_of_range(4, "greater than -180 and less than 180 (degrees)", Shown_float(elevation)));
    }
    if (pathwidth < 1) {
        return Refused(Out_of_range(5, "at least 2 (a half width of at least 1)", configured_pathwidth));
    }
    if (sidescale < 1) return Refused(Out_of_range(6, "at least 1", sidescale));
    if (median < 0) return Refused(Out_of_range(7, "0 or more", median));
    if (rmax <= 0) return Refused(Out_of_range(12, "greater than 0", rmax));
    return {};
}

Failure Check_settings_for_picture(const std::string& name, int32_t width, int32_t height)
{
    const std::string of_picture = " of the picture '" + name + "', ";
    if (xcentre < 0 || xcentre >= width) {
        return Refused(Out_of_range(10, "a column" + of_picture + "0 to " + std::to_string(width - 1), xcentre));
    }
    if (ycentre < 0 || ycentre >= height) {
        return Refused(Out_of_range(11, "a row" + of_picture + "0 to " + std::to_string(height - 1), ycentre));
    }
    // rmax is whole: it exceeds the diagonal when it exceeds the diagonal's whole part.
    const double diagonal = std::sqrt(double(width) * width + double(height) * height);
    const int64_t whole_diagonal = static_cast<int64_t>(diagonal);
    if (rmax > whole_diagonal) {
        return Refused(
            Out_of_range(12, "at most the diagonal" + of_picture + std::to_string(whole_diagonal) + " pixels", rmax));
    }
    return {};
}

Failure Read_configuration(const std::string& name)
{
    Console() << "Reading parameters from '" << config_name << "' ..." << std::flush;
    const std::string unreadable = "Can't read config file '" + std::string(config_name) + "'";
    const Failure failure = Read_input_file(
        name, unreadable, exit_bad_configuration, Parse_configuration,
        [](const std::string& reason, bool contents) {
            if (contents) {
                Print_token_order();
            } else {
                Print_folder_advice(reason);
            }
        });
    if (failure) return failure;
    Console() << "OK" << std::endl;
    return {};
}
