#include "input/laserpath.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <limits>

#include "base/console.h"
#include "base/run_codes.h"
#include "input/input_file.h"

std::vector<PathPoint> laserpath;
PathPoint point;

namespace {

const char* const path_name = path_file_name;

// The longest coordinate token read: any longer one is refused unread.
constexpr size_t longest_coordinate = 64;

// Strict decimal integer: optional sign, digits only, within the signed 32-bit range.
bool Token_to_int32(const std::string& token, int32_t& number)
{
    size_t digits_from = (token[0] == '+' || token[0] == '-') ? 1 : 0;
    if (digits_from == token.size()) return false;
    for (size_t i = digits_from; i < token.size(); ++i) {
        if (token[i] < '0' || token[i] > '9') return false;
    }
    errno = 0;
    long long parsed = std::strtoll(token.c_str(), nullptr, 10);
    if (errno == ERANGE || parsed < std::numeric_limits<int32_t>::min() ||
        parsed > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    number = static_cast<int32_t>(parsed);
    return true;
}

// What the path file must hold and where it is looked for, after a message about
// it; `reason` is the system's for a file that can't be read, or empty.
void Print_path_advice(const std::string& reason)
{
    if (!reason.empty()) Advice() << "The system's reason: " << reason << "; ";
    Advice() << "'" << path_name << "' in the folder tavrolin runs in holds the beam's course "
                 "as whole pixel coordinates, pairs x y, in any order." << std::endl;
}

}  // namespace

bool Compare(PathPoint a, PathPoint b)
{
    return a.y < b.y;
}

Failure Parse_laser_path(std::istream& in)
{
    TokenReader reader(in);
    std::string token;
    int32_t coordinate[2];
    int filled = 0;
    long long token_number = 0;
    TokenReader::Result result;
    while ((result = reader.Next(longest_coordinate, token)) != TokenReader::end) {
        ++token_number;
        const std::string refusal = "Can't read a path coordinate from '" + std::string(path_name) + "': ";
        const std::string number = " (token " + std::to_string(token_number) + " of the file)";
        const auto refuse = [](const std::string& reason) { return Failure{exit_bad_path, reason}; };
        if (result == TokenReader::nul_byte) {
            return refuse(refusal + "token " + std::to_string(token_number) + " of the file holds a NUL byte (byte " +
                          std::to_string(reader.Bytes_read()) + " of the file), not text");
        }
        if (result == TokenReader::too_long) {
            return refuse(refusal + "'" + Shown_token(token) + "'" + number + " has more than " +
                          std::to_string(longest_coordinate) + " characters");
        }
        if (!Token_to_int32(token, coordinate[filled])) {
            return refuse(refusal + "'" + Shown_token(token) + "'" + number +
                          " is not a whole number in the 32-bit range");
        }
        if (++filled == 2) {
            if (laserpath.size() >= most_path_points) {
                return refuse(refusal + "the file holds more than " + std::to_string(most_path_points) +
                              " points (pairs x y)");
            }
            point = PathPoint{coordinate[0], coordinate[1]};
            laserpath.push_back(point);
            filled = 0;
        }
    }
    return {};
}

Failure Read_laser_path(const std::string& file)
{
    Console() << "Reading laser path points from '" << path_name << "'... " << std::flush;
    const std::string unreadable = "Can't read path-file '" + std::string(path_name) + "'";
    const Failure failure = Read_input_file(file, unreadable, exit_bad_path, Parse_laser_path,
                                            [](const std::string& reason, bool) { Print_path_advice(reason); });
    if (failure) return failure;
    std::sort(laserpath.begin(), laserpath.end(), Compare);
    Console() << laserpath.size() << " points read" << std::endl;

    // The products walk the rows from the first to the last point: they need two rows.
    if (laserpath.empty() || laserpath.front().y == laserpath.back().y) {
        return End_stage(exit_bad_path,
                         "The path in '" + std::string(path_name) +
                             "' needs points on at least two different rows" +
                             (laserpath.empty() ? std::string(" but holds none")
                                                : " but has them all on row " +
                                                      std::to_string(laserpath.front().y)));
    }
    return {};
}

int32_t Getpathx(int32_t y)
{
    const PathPoint& first = laserpath.front();
    const PathPoint& last = laserpath.back();
    if (first.y > y) return -1;
    if (last.y < y) return -1;
    if (first.y == y) return first.x;
    if (last.y == y) return last.x;

    // The first point below row y; the points are sorted by row, so bisect.
    auto upper = std::upper_bound(laserpath.begin() + 1, laserpath.end(), y,
                                  [](int32_t row, const PathPoint& p) { return row < p.y; });
    const PathPoint& lower = *(upper - 1);
    const float x0 = static_cast<float>(lower.x);
    const float slope = static_cast<float>(static_cast<float>(int64_t{upper->x} - lower.x) /
                                           static_cast<double>(int64_t{upper->y} - lower.y));
    const double column = static_cast<double>(int64_t{y} - lower.y) * slope + x0;
    // Only paths with coordinates near the 32-bit limits can interpolate past them.
    const double lowest = std::numeric_limits<int32_t>::min();
    const double highest = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::min(std::max(column, lowest), highest));
}
