#include "night/night_record.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <algorithm>
#include <limits>
#include <type_traits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "base/run_codes.h"
#include "input/pgm.h"

namespace {

using nlohmann::json;

json Number(float value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

json Real(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

double Double_of(const json& value)
{
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text == "inf") return std::numeric_limits<double>::infinity();
        if (text == "-inf") return -std::numeric_limits<double>::infinity();
        return std::numeric_limits<double>::quiet_NaN();
    }
    return value.get<double>();
}

float Float_of(const json& value)
{
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text == "inf") return std::numeric_limits<float>::infinity();
        if (text == "-inf") return -std::numeric_limits<float>::infinity();
        return std::numeric_limits<float>::quiet_NaN();
    }
    return value.get<float>();
}

std::string Hex(const unsigned char* bytes, unsigned int length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    return text;
}

// The length of the valid UTF-8 character at `at`, or 0 when the bytes there are
// none (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF,
// or cut short).
size_t Utf8_length(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;   // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string Json_text(const std::string& text)
{
    bool valid = true;
    for (size_t i = 0; i < text.size() && valid;) {
        const size_t length = Utf8_length(text, i);
        valid = length > 0;
        i += length;
    }
    if (valid) return text;
    std::string escaped;
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8_length(text, i);
        if (length == 0) {
            char byte[5];
            std::snprintf(byte, sizeof byte, "\\x%02x", static_cast<unsigned char>(text[i]));
            escaped += byte;
            ++i;
        } else {
            if (text[i] == '\\') escaped += '\\';
            escaped.append(text, i, length);
            i += length;
        }
    }
    return escaped;
}

uint64_t Bytes_to_hash(const std::string& name, uint64_t size)
{
    // The most any picture the run takes can hold, with room for a header.
    constexpr uint64_t most = 2 * uint64_t(frame_sample_limit) + (uint64_t{1} << 20);
    uint64_t bytes = std::min(size, most);
    std::ifstream file(name, std::ios::binary);
    char head[512];
    file.read(head, sizeof head);
    Byte_stream in(reinterpret_cast<const unsigned char*>(head), size_t(file.gcount()));
    std::string identifier;
    int32_t width = 0, height = 0, maxval = 0;
    if (Read_pgm_identifier(in, identifier)) {
        Read_pgm_header(in, width, height, maxval);
        if (width > 0 && height > 0 && int64_t{width} * height <= frame_sample_limit && in.Position() < sizeof head) {
            bytes = std::min(size, in.Position() + 1 + 2 * uint64_t(width) * uint64_t(height));
        }
    }
    return bytes;
}

Failure Read_file_stamp(const std::string& name, FileFacts& facts)
{
    const Failure cannot{exit_bad_picture, "Can't read the file '" + name + "'"};
    struct stat status;
    if (stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return cannot;
    const int descriptor = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return cannot;
    close(descriptor);
    facts.size = static_cast<uint64_t>(status.st_size);
    char stamp[64];
    std::tm utc;
    gmtime_r(&status.st_mtim.tv_sec, &utc);
    const size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + length, sizeof stamp - length, ".%09ldZ", long(status.st_mtim.tv_nsec));
    facts.modified = stamp;
    facts.hashed = Bytes_to_hash(name, facts.size);
    return {};
}

Failure Hash_file(const std::string& name, FileFacts& facts, const unsigned char* held, size_t held_size)
{
    const Failure cannot{exit_bad_picture, "Can't read the file '" + name + "'"};
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool read = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    if (held != nullptr && held_size >= facts.hashed) {
        read = read && EVP_DigestUpdate(context, held, size_t(facts.hashed)) == 1;
    } else {
        std::FILE* file = std::fopen(name.c_str(), "rb");
        read = read && file != nullptr;
        std::vector<unsigned char> buffer(size_t{1} << 20);
        uint64_t left = facts.hashed;
        while (read && left > 0) {
            const size_t got = std::fread(buffer.data(), 1, size_t(std::min<uint64_t>(buffer.size(), left)), file);
            if (got > 0) read = EVP_DigestUpdate(context, buffer.data(), got) == 1;
            left -= got;
            if (got == 0) break;
        }
        facts.hashed -= left;
        read = read && !std::ferror(file);
        if (file != nullptr) std::fclose(file);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    read = read && EVP_DigestFinal_ex(context, digest, &digest_length) == 1;
    EVP_MD_CTX_free(context);
    if (!read) return cannot;
    facts.sha256 = Hex(digest, digest_length);
    return {};
}

Failure Read_file_facts(const std::string& name, FileFacts& facts, const unsigned char* held, size_t held_size)
{
    if (Failure failure = Read_file_stamp(name, facts)) return failure;
    return Hash_file(name, facts, held, held_size);
}

json Facts_to_json(const std::string& name, const FileFacts& facts)
{
    json facts_json{{"file", Json_text(name)}, {"size", facts.size}, {"modified", facts.modified},
                    {"sha256", facts.sha256}};
    // A file longer than the picture its header describes: the checksum is of that
    // picture's bytes only.
    if (facts.hashed != facts.size) facts_json["sha256_bytes"] = facts.hashed;
    return facts_json;
}

json Fit_to_json(const AerosolFit& fit)
{
    json result = {{"fitted", fit.fitted}, {"rows", fit.rows}};
    if (!fit.fitted) {
        result["reason"] = fit.reason;
        return result;
    }
    auto number = [](double value) { return std::isfinite(value) ? json(value) : json(nullptr); };
    result["g"] = number(fit.g);
    result["sigma_g"] = number(fit.sigma_g);
    result["q"] = number(fit.q);
    result["sigma_q"] = number(fit.sigma_q);
    result["scale"] = number(fit.scale);
    result["sigma_scale"] = number(fit.sigma_scale);
    result["chi2_dof"] = number(fit.chi2_dof);
    result["height_span_m"] = {number(fit.height_low), number(fit.height_high)};
    result["aerosol"] = fit.scale_height > 0.0 ? "scale height " + std::to_string(fit.scale_height) + " m"
                                               : std::string("uniform over the height span");
    result["aerosol_scale_height_m"] = fit.scale_height > 0.0 ? json(fit.scale_height) : json(nullptr);
    result["transmission"] = "molecular only, no aerosol extinction";
    return result;
}

json Frame_to_json(const FrameRecord& record)
{
    json frame = {{"name", Json_text(record.name)},
                  {"file", Json_text(record.file)},
                  {"status", record.measured ? "measured" : "failed"},
                  {"code", record.code}};
    if (!record.measured) frame["message"] = Json_text(record.message);
    if (record.has_facts) frame["input"] = Facts_to_json(record.file, record.facts);
    frame["time"] = record.dated.known ? json(Iso_time(record.dated.time)) : json(nullptr);
    frame["time_source"] = record.dated.known ? json(record.dated.source) : json(nullptr);
    if (record.dated.has_camera) {
        const CameraFacts& camera = record.dated.camera;
        const auto positive = [](double value) { return value > 0 ? json(value) : json(nullptr); };
        frame["camera"] = {{"capture_time", camera.has_time ? json(Iso_time(double(camera.time))) : json(nullptr)},
                           {"exposure_s", positive(camera.exposure)},
                           {"iso", positive(camera.iso)},
                           {"aperture_f", positive(camera.aperture)},
                           {"focal_length_mm", positive(camera.focal_length)},
                           {"make", Json_text(camera.make)},
                           {"model", Json_text(camera.model)},
                           {"body_serial", Json_text(camera.body_serial)}};
    }
    if (record.has_levels) {
        frame["levels"] = {{"highest", Number(record.levels.highest)},
                           {"lowest", Number(record.levels.lowest)},
                           {"zero_level", Number(record.levels.zero_level)},
                           {"zero_level_R", Number(record.levels.zero_level_R)},
                           {"zero_level_G", Number(record.levels.zero_level_G)},
                           {"zero_level_B", Number(record.levels.zero_level_B)},
                           {"zero_level_R_bckg", Number(record.levels.zero_level_R_bckg)},
                           {"zero_level_G_bckg", Number(record.levels.zero_level_G_bckg)},
                           {"zero_level_B_bckg", Number(record.levels.zero_level_B_bckg)}};
    }
    if (record.has_signal) {
        frame["row90"] = record.row90;
        frame["x90"] = record.x90;
        frame["coefficient"] = Number(record.coefficient);
    }
    if (record.has_uncertainty) {
        frame["gain"] = std::isfinite(record.gain) ? json(record.gain) : json(nullptr);
        frame["gain_estimated"] = record.gain_estimated;
        frame["beam_found"] = record.beam_found;
        frame["gain_sigma"] = Real(record.gain_sigma);
        frame["cell_read_variance"] = Real(record.cell_read_variance);
        frame["dark_cell_read_variance"] = Real(record.dark_cell_read_variance);
        json bins = json::array();
        for (const NoiseBin& bin : record.noise_bins) bins.push_back({Real(bin.level), Real(bin.variance), bin.count});
        frame["noise_bins"] = bins;
        frame["clip_level"] = Real(record.clip_level);
        frame["clip_piled_up"] = record.clip_piled_up;
    }
    if (record.has_scattering) frame["aerosol_fit"] = Fit_to_json(record.fit);
    return frame;
}

void Dismantle(json& value)
{
    if (value.is_array()) {
        json::array_t& items = value.get_ref<json::array_t&>();
        while (!items.empty()) {
            Dismantle(items.back());
            items.pop_back();
        }
    } else if (value.is_object()) {
        json::object_t& members = value.get_ref<json::object_t&>();
        while (!members.empty()) {
            Dismantle(members.begin()->second);
            members.erase(members.begin());
        }
    }
}

FrameRecord Frame_from_json(const json& frame)
{
    FrameRecord record;
    record.name = frame.at("name").get<std::string>();
    record.file = frame.at("file").get<std::string>();
    record.measured = frame.at("status").get<std::string>() == "measured";
    record.code = frame.at("code").get<int>();
    if (frame.contains("message")) record.message = frame.at("message").get<std::string>();
    if (frame.contains("input")) {
        const json& input = frame.at("input");
        record.has_facts = true;
        record.facts.size = input.at("size").get<uint64_t>();
        record.facts.modified = input.at("modified").get<std::string>();
        record.facts.sha256 = input.at("sha256").get<std::string>();
        record.facts.hashed = input.value("sha256_bytes", record.facts.size);
    }
    if (frame.contains("time") && frame.at("time").is_string()) {
        record.dated.known = Parse_iso_time(frame.at("time").get<std::string>(), record.dated.time);
        record.dated.source = frame.at("time_source").get<std::string>();
    }
    if (frame.contains("camera")) {
        const json& camera = frame.at("camera");
        const auto number = [&camera](const char* key) {
            return camera.at(key).is_null() ? 0.0 : camera.at(key).get<double>();
        };
        record.dated.has_camera = true;
        double taken = 0.0;
        record.dated.camera.has_time = camera.at("capture_time").is_string() &&
                                       Parse_iso_time(camera.at("capture_time").get<std::string>(), taken);
        record.dated.camera.time = static_cast<int64_t>(taken);
        record.dated.camera.exposure = number("exposure_s");
        record.dated.camera.iso = number("iso");
        record.dated.camera.aperture = number("aperture_f");
        record.dated.camera.focal_length = number("focal_length_mm");
        record.dated.camera.make = camera.at("make").get<std::string>();
        record.dated.camera.model = camera.at("model").get<std::string>();
        record.dated.camera.body_serial = camera.at("body_serial").get<std::string>();
    }
    if (frame.contains("levels")) {
        const json& levels = frame.at("levels");
        record.has_levels = true;
        record.levels.highest = Float_of(levels.at("highest"));
        record.levels.lowest = Float_of(levels.at("lowest"));
        record.levels.zero_level = Float_of(levels.at("zero_level"));
        record.levels.zero_level_R = Float_of(levels.at("zero_level_R"));
        record.levels.zero_level_G = Float_of(levels.at("zero_level_G"));
        record.levels.zero_level_B = Float_of(levels.at("zero_level_B"));
        record.levels.zero_level_R_bckg = Float_of(levels.at("zero_level_R_bckg"));
        record.levels.zero_level_G_bckg = Float_of(levels.at("zero_level_G_bckg"));
        record.levels.zero_level_B_bckg = Float_of(levels.at("zero_level_B_bckg"));
    }
    if (frame.contains("coefficient")) {
        record.has_signal = true;
        record.row90 = frame.at("row90").get<int32_t>();
        record.x90 = frame.at("x90").get<int32_t>();
        record.coefficient = Float_of(frame.at("coefficient"));
    }
    if (frame.contains("beam_found")) {
        record.has_uncertainty = true;
        const json& gain = frame.at("gain");
        record.gain = gain.is_null() ? std::nan("") : gain.get<double>();
        record.gain_estimated = frame.at("gain_estimated").get<bool>();
        record.beam_found = frame.at("beam_found").get<bool>();
        record.gain_sigma = Double_of(frame.at("gain_sigma"));
        record.cell_read_variance = Double_of(frame.at("cell_read_variance"));
        record.dark_cell_read_variance = Double_of(frame.at("dark_cell_read_variance"));
        for (const json& bin : frame.at("noise_bins")) {
            record.noise_bins.push_back({Double_of(bin.at(0)), Double_of(bin.at(1)), bin.at(2).get<int64_t>()});
        }
        record.clip_level = Double_of(frame.at("clip_level"));
        record.clip_piled_up = frame.at("clip_piled_up").get<bool>();
    }
    if (frame.contains("aerosol_fit")) {
        const json& fit = frame.at("aerosol_fit");
        record.has_scattering = true;
        record.fit.fitted = fit.at("fitted").get<bool>();
        record.fit.rows = fit.at("rows").get<int32_t>();
        if (fit.contains("reason")) record.fit.reason = fit.at("reason").get<std::string>();
        auto number = [&](const char* key) {
            return fit.contains(key) && fit.at(key).is_number() ? fit.at(key).get<double>() : std::nan("");
        };
        record.fit.g = number("g");
        record.fit.sigma_g = number("sigma_g");
        record.fit.q = number("q");
        record.fit.sigma_q = number("sigma_q");
        record.fit.scale = number("scale");
        record.fit.sigma_scale = number("sigma_scale");
        record.fit.chi2_dof = number("chi2_dof");
        record.fit.scale_height = fit.contains("aerosol_scale_height_m") && fit.at("aerosol_scale_height_m").is_number()
                                      ? fit.at("aerosol_scale_height_m").get<double>()
                                      : 0.0;
        if (fit.contains("height_span_m")) {
            record.fit.height_low = Float_of(fit.at("height_span_m").at(0));
            record.fit.height_high = Float_of(fit.at("height_span_m").at(1));
        }
    }
    if (frame.contains("seconds")) record.seconds = frame.at("seconds").get<double>();
    return record;
}

namespace {

template <typename T>
void Append_array(std::string& bytes, const std::vector<T>& values)
{
    static_assert(std::is_trivially_copyable_v<T>);
    const uint64_t count = values.size();
    bytes.append(reinterpret_cast<const char*>(&count), sizeof count);
    if (!values.empty()) bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

template <typename T>
bool Take_array(const std::string& bytes, size_t& at, std::vector<T>& values)
{
    uint64_t count = 0;
    if (bytes.size() - at < sizeof count) return false;
    std::memcpy(&count, bytes.data() + at, sizeof count);
    at += sizeof count;
    if (count > (bytes.size() - at) / sizeof(T)) return false;
    values.resize(size_t(count));
    if (count > 0) std::memcpy(values.data(), bytes.data() + at, size_t(count) * sizeof(T));
    at += size_t(count) * sizeof(T);
    return true;
}

double Rounded_to_float(double value)
{
    return double(static_cast<float>(value));
}

}  // namespace

std::string Worker_result(const FrameRecord& record)
{
    json frame = Frame_to_json(record);
    frame["seconds"] = record.seconds;
    std::string result = frame.dump();   // one line: the dump escapes every line end
    Dismantle(frame);
    result += '\n';
    std::vector<double> sigma_signal;
    for (const double sigma : record.sigma_signal) sigma_signal.push_back(Rounded_to_float(sigma));
    std::vector<RowUncertainty> rows = record.row_uncertainty;
    for (RowUncertainty& u : rows) {
        u.sigma_net = Rounded_to_float(u.sigma_net);
        u.sigma_background = Rounded_to_float(u.sigma_background);
        u.sigma_signal = Rounded_to_float(u.sigma_signal);
        u.sigma_median = Rounded_to_float(u.sigma_median);
    }
    Append_array(result, record.rows);
    Append_array(result, sigma_signal);
    Append_array(result, rows);
    return result;
}

bool Record_from_worker_result(const std::string& result, FrameRecord& record)
{
    const size_t line_end = result.find('\n');
    if (line_end == std::string::npos) return false;
    try {
        json frame = json::parse(result.begin(), result.begin() + std::ptrdiff_t(line_end));
        record = Frame_from_json(frame);
        Dismantle(frame);
        size_t at = line_end + 1;
        if (!Take_array(result, at, record.rows) || !Take_array(result, at, record.sigma_signal) ||
            !Take_array(result, at, record.row_uncertainty) || at != result.size()) {
            return false;
        }
    } catch (const json::exception&) {
        return false;
    }
    return true;
}
