#include "night/night_netcdf.h"

#include <cerrno>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <unistd.h>

#include <netcdf.h>

#include "base/product_file.h"
#include "base/run_codes.h"
#include "base/signals.h"
#include "night/night_cleanup.h"

namespace {

constexpr double missing = std::numeric_limits<double>::quiet_NaN();

// A variable of the night's file: its name, units, CF standard name (empty: there is
// none for it) and description, and how to take its value. One line of a table below
// adds a variable to the file.
template <typename Value>
struct Variable {
    const char* name;
    const char* units;
    const char* standard_name;
    const char* long_name;
    Value value;
};

// Per processed row: the geometry (the night's row coordinates) and the combined
// profile.
using RowValue = double (*)(const ProfileRow&);
const Variable<RowValue> row_variables[] = {
    {"pixel_x", "1", "", "column of the beam's pixel on the row", [](const ProfileRow& p) { return double(p.x); }},
    {"radius", "1", "", "distance of the pixel from the image centre along the beam, in pixels",
     [](const ProfileRow& p) { return double{p.r}; }},
    {"zenith_angle", "degree", "zenith_angle", "zenith angle of the line of sight",
     [](const ProfileRow& p) { return double{p.theta}; }},
    {"height", "m", "height", "height of the scattering point above the camera",
     [](const ProfileRow& p) { return double{p.height}; }},
    {"distance", "m", "", "distance from the camera to the scattering point",
     [](const ProfileRow& p) { return double{p.distance}; }},
    {"scattering_angle", "degree", "scattering_angle", "scattering angle at the scattering point",
     [](const ProfileRow& p) { return double{p.alpha}; }},
    {"profile_frames", "1", "", "number of frames that measured the row",
     [](const ProfileRow& p) { return double(p.frames); }},
    {"profile_mean", "1", "", "mean normalised signal of the night's frames",
     [](const ProfileRow& p) { return p.mean; }},
    {"profile_sem", "1", "", "standard error of the mean from the frames' spread",
     [](const ProfileRow& p) { return p.sem; }},
    {"profile_sem_predicted", "1", "", "standard error of the mean predicted from the frames' own sigmas",
     [](const ProfileRow& p) { return p.sem_predicted; }},
    {"profile_chi2_per_dof", "1", "", "chi-square per degree of freedom of the frames around their mean",
     [](const ProfileRow& p) { return p.chi2; }},
    {"profile_median", "1", "", "median normalised signal of the night's frames",
     [](const ProfileRow& p) { return double{p.median}; }},
    {"profile_used", "1", "", "number of frames whose row counts in the combination",
     [](const ProfileRow& p) { return double(p.used); }},
    {"profile_excluded", "1", "", "number of frames whose row was left out (flagged, near the clip in some frame, or beyond 5 sigma)",
     [](const ProfileRow& p) { return double(p.excluded); }},
    {"profile_net", "count", "", "scale-corrected inverse-variance weighted mean net signal of the frames",
     [](const ProfileRow& p) { return p.net; }},
    {"profile_net_sigma", "count", "", "own error of profile_net",
     [](const ProfileRow& p) { return p.sigma_net; }},
    {"profile_net_sigma_common", "count", "", "error of profile_net from the dark that every frame shares",
     [](const ProfileRow& p) { return p.sigma_net_common; }},
    {"profile_signal", "1", "", "profile_net normalised once over the 90-degree window",
     [](const ProfileRow& p) { return p.signal; }},
    {"profile_signal_sigma", "1", "", "own error of profile_signal",
     [](const ProfileRow& p) { return p.sigma_signal; }},
    {"profile_signal_sigma_common", "1", "", "error of profile_signal from the dark that every frame shares",
     [](const ProfileRow& p) { return p.sigma_signal_common; }},
    {"profile_signal_sigma_total", "1", "", "own, common and normalisation errors of profile_signal together",
     [](const ProfileRow& p) { return p.sigma_signal_total; }},
    {"profile_near_clip", "1", "", "number of frames in which the row came near the clip level (row left out of all)",
     [](const ProfileRow& p) { return double(p.near_clip); }},
};
// Per processed row: the night's scattering function.
using ScatteringValue = double (*)(const RowScattering&);
const Variable<ScatteringValue> scattering_variables[] = {
    {"footprint_dz", "degree", "", "zenith-angle span of the row's colour cells, from the smooth path",
     [](const RowScattering& b) { return b.dz; }},
    {"beta_rel", "1", "", "relative scattering function: profile mean over dz, normalised around 90 degrees",
     [](const RowScattering& b) { return b.beta; }},
    {"beta_rel_sigma", "1", "", "sigma of beta_rel", [](const RowScattering& b) { return b.sigma_beta; }},
    {"beta_mol_rel", "1", "", "molecular reference N(h) P(angle) T_m, normalised around 90 degrees",
     [](const RowScattering& b) { return b.beta_mol; }},
    {"beta_ratio", "1", "", "beta_rel over beta_mol_rel", [](const RowScattering& b) { return b.ratio; }},
    {"beta_ratio_sigma", "1", "", "sigma of beta_ratio", [](const RowScattering& b) { return b.sigma_ratio; }},
};
// The coordinates among them, named in each data variable's `coordinates`.
const char* const row_coordinates = "pixel_x height scattering_angle zenith_angle";

// Per measured frame.
using TimeValue = double (*)(const FrameRecord&);
const Variable<TimeValue> time_variables[] = {
    {"coefficient", "count", "", "scaling coefficient: median net signal around the 90-degree row",
     [](const FrameRecord& f) { return double{f.coefficient}; }},
    {"row90", "1", "", "pixel row of the scaling coefficient", [](const FrameRecord& f) { return double(f.row90); }},
    {"gain", "1", "", "sensor gain in digital numbers per electron",
     [](const FrameRecord& f) { return f.has_uncertainty ? f.gain : missing; }},
    {"exposure_time", "s", "", "exposure time",
     [](const FrameRecord& f) { return f.dated.camera.exposure > 0 ? f.dated.camera.exposure : missing; }},
    {"iso", "1", "", "ISO speed", [](const FrameRecord& f) { return f.dated.camera.iso > 0 ? f.dated.camera.iso : missing; }},
    {"f_number", "1", "", "aperture f-number",
     [](const FrameRecord& f) { return f.dated.camera.aperture > 0 ? f.dated.camera.aperture : missing; }},
    {"focal_length", "mm", "", "lens focal length",
     [](const FrameRecord& f) { return f.dated.camera.focal_length > 0 ? f.dated.camera.focal_length : missing; }},
};

// Per measured frame and processed row; k is the row's place in the frame's table.
using CellValue = double (*)(const FrameRecord&, size_t k);
const Variable<CellValue> cell_variables[] = {
    {"net_signal", "count", "", "net beam signal of the row: band sum less the band's background",
     [](const FrameRecord& f, size_t k) { return k < f.row_uncertainty.size() ? double{f.row_uncertainty[k].net} : missing; }},
    {"net_signal_sigma", "count", "", "1-sigma uncertainty of net_signal",
     [](const FrameRecord& f, size_t k) { return k < f.row_uncertainty.size() ? f.row_uncertainty[k].sigma_net : missing; }},
    {"normalised_signal", "1", "", "net signal divided by the frame's scaling coefficient",
     [](const FrameRecord& f, size_t k) { return double{f.rows[k].signal}; }},
    {"normalised_signal_sigma", "1", "", "1-sigma uncertainty of normalised_signal",
     [](const FrameRecord& f, size_t k) { return k < f.sigma_signal.size() ? f.sigma_signal[k] : missing; }},
    {"running_median", "1", "", "running median of the normalised signal",
     [](const FrameRecord& f, size_t k) { return double{f.rows[k].median}; }},
    {"background", "count", "", "side-band median per pixel, lens corrected",
     [](const FrameRecord& f, size_t k) {
         return k < f.row_uncertainty.size() ? double{f.row_uncertainty[k].background} : missing;
     }},
    {"background_sigma", "count", "", "1-sigma uncertainty of background",
     [](const FrameRecord& f, size_t k) {
         return k < f.row_uncertainty.size() ? f.row_uncertainty[k].sigma_background : missing;
     }},
};

// The row's flags as bits: 1 sat, 2 weak, 4 edge.
signed char Flag_bits(const RowUncertainty& row)
{
    return static_cast<signed char>((row.sat ? 1 : 0) | (row.weak ? 2 : 0) | (row.edge ? 4 : 0));
}

// Collects the first error of the netCDF calls made through it.
// The outcome of the netCDF calls that write a file: the first failure's message, and
// the system's error number when a system call under the library failed there (errno
// is cleared after every call that went through, so that only the failing call's
// reason is kept).
class Netcdf {
public:
    Netcdf() { errno = 0; }
    bool operator()(int status)
    {
        if (status != NC_NOERR && error_.empty()) {
            error_ = nc_strerror(status);
            system_error_ = errno;
        }
        errno = 0;
        return error_.empty();
    }
    const std::string& Error() const { return error_; }
    int System_error() const { return system_error_; }

private:
    std::string error_;
    int system_error_ = 0;
};

void Text_attribute(Netcdf& nc, int file, int variable, const char* name, const std::string& text)
{
    nc(nc_put_att_text(file, variable, name, text.size(), text.c_str()));
}

// A float variable with its attributes and a NaN fill value.
int Define_float(Netcdf& nc, int file, const char* name, int dimensions, const int* ids, const char* units,
                 const char* standard_name, const char* long_name, const char* coordinates)
{
    int variable = -1;
    nc(nc_def_var(file, name, NC_FLOAT, dimensions, ids, &variable));
    const float fill = std::numeric_limits<float>::quiet_NaN();
    nc(nc_def_var_fill(file, variable, 0, &fill));
    if (dimensions > 1) nc(nc_def_var_deflate(file, variable, 1, 1, 4));
    Text_attribute(nc, file, variable, "units", units);
    if (*standard_name != '\0') Text_attribute(nc, file, variable, "standard_name", standard_name);
    Text_attribute(nc, file, variable, "long_name", long_name);
    if (coordinates != nullptr) Text_attribute(nc, file, variable, "coordinates", coordinates);
    return variable;
}

void Put_floats(Netcdf& nc, int file, int variable, const std::vector<float>& values)
{
    if (!values.empty()) nc(nc_put_var_float(file, variable, values.data()));
}

}  // namespace

Failure Write_night_netcdf(const std::string& file, const std::vector<FrameRecord>& frames,
                           const std::vector<ProfileRow>& profile, const std::vector<NetcdfAttribute>& attributes,
                           const std::vector<NetcdfScalar>& scalars, const NightScattering* scattering)
{
    std::vector<const FrameRecord*> measured;
    for (const FrameRecord& frame : frames) {
        if (frame.measured) measured.push_back(&frame);
    }
    std::map<int32_t, size_t> row_of_y;
    for (size_t i = 0; i < profile.size(); ++i) row_of_y[profile[i].y] = i;
    const size_t times = measured.size(), rows = profile.size();

    if (Is_protected_input(file)) {
        return Failure{exit_product_not_written, "Can't write '" + file + "': it is one of the input files"};
    }
    std::string partial = file + ".XXXXXX";
    int descriptor;
    {
        EndingSignalsHeld held;   // an ending signal removes the file once it exists
        descriptor = mkstemp(partial.data());
        if (descriptor < 0) return Failure{exit_product_not_written, "can't write " + file, errno};
        Keep_night_temporary(partial);
    }
    Give_usual_permissions(descriptor);
    close(descriptor);
    Netcdf nc;
    int id = -1;
    nc(nc_create(partial.c_str(), NC_NETCDF4 | NC_CLOBBER, &id));
    int time_dim = -1, row_dim = -1;
    nc(nc_def_dim(id, "time", times, &time_dim));
    nc(nc_def_dim(id, "row", rows, &row_dim));
    for (const NetcdfAttribute& attribute : attributes) {
        if (attribute.is_number) {
            nc(nc_put_att_double(id, NC_GLOBAL, attribute.name.c_str(), NC_DOUBLE, 1, &attribute.number));
        } else {
            Text_attribute(nc, id, NC_GLOBAL, attribute.name.c_str(), attribute.text);
        }
    }

    int time_var = -1, row_var = -1, name_var = -1, source_var = -1, flags_var = -1;
    nc(nc_def_var(id, "time", NC_DOUBLE, 1, &time_dim, &time_var));
    Text_attribute(nc, id, time_var, "units", "seconds since 1970-01-01 00:00:00 UTC");
    Text_attribute(nc, id, time_var, "calendar", "standard");
    Text_attribute(nc, id, time_var, "standard_name", "time");
    Text_attribute(nc, id, time_var, "long_name", "time the frame was taken (UTC)");
    Text_attribute(nc, id, time_var, "axis", "T");
    nc(nc_def_var(id, "row", NC_INT, 1, &row_dim, &row_var));
    Text_attribute(nc, id, row_var, "units", "1");
    Text_attribute(nc, id, row_var, "long_name", "pixel row of the picture, counted from the top");
    nc(nc_def_var(id, "frame_name", NC_STRING, 1, &time_dim, &name_var));
    Text_attribute(nc, id, name_var, "long_name", "the frame's file name less its extension");
    nc(nc_def_var(id, "time_source", NC_STRING, 1, &time_dim, &source_var));
    Text_attribute(nc, id, source_var, "long_name", "where the frame's time comes from");

    std::vector<int> row_ids, time_ids, cell_ids;
    for (const auto& variable : row_variables) {
        row_ids.push_back(Define_float(nc, id, variable.name, 1, &row_dim, variable.units, variable.standard_name,
                                       variable.long_name, nullptr));
    }
    std::vector<int> scattering_ids;
    if (scattering != nullptr && scattering->formed) {
        for (const auto& variable : scattering_variables) {
            scattering_ids.push_back(Define_float(nc, id, variable.name, 1, &row_dim, variable.units,
                                                  variable.standard_name, variable.long_name, nullptr));
        }
        scattering_ids.push_back(Define_float(nc, id, "beta_fit", 1, &row_dim, "1", "",
                                              "beta_rel of the fitted molecular plus Henyey-Greenstein model",
                                              nullptr));
        const AerosolFit& fit = scattering->fit;
        Text_attribute(nc, id, NC_GLOBAL, "aerosol_fit",
                       fit.fitted ? "beta_rel = A [m + q w HG(angle; g) / HG(90; g)], uniform aerosol unless "
                                    "aerosol_scale_height_m, molecular transmission only"
                                  : "none: " + fit.reason);
        if (fit.fitted) {
            const std::pair<const char*, double> numbers[] = {
                {"aerosol_g", fit.g},       {"aerosol_g_sigma", fit.sigma_g}, {"aerosol_q", fit.q},
                {"aerosol_q_sigma", fit.sigma_q}, {"aerosol_fit_chi2_per_dof", fit.chi2_dof},
                {"aerosol_fit_rows", double(fit.rows)}, {"aerosol_scale_height_m", fit.scale_height}};
            for (const auto& [name, value] : numbers) nc(nc_put_att_double(id, NC_GLOBAL, name, NC_DOUBLE, 1, &value));
        }
    }
    const int height_var = row_ids[3];
    Text_attribute(nc, id, height_var, "positive", "up");
    Text_attribute(nc, id, height_var, "axis", "Z");
    for (const auto& variable : time_variables) {
        time_ids.push_back(Define_float(nc, id, variable.name, 1, &time_dim, variable.units, variable.standard_name,
                                        variable.long_name, nullptr));
    }
    const int both[2] = {time_dim, row_dim};
    for (const auto& variable : cell_variables) {
        cell_ids.push_back(Define_float(nc, id, variable.name, 2, both, variable.units, variable.standard_name,
                                        variable.long_name, row_coordinates));
    }
    nc(nc_def_var(id, "flags", NC_BYTE, 2, both, &flags_var));
    const signed char masks[3] = {1, 2, 4};
    nc(nc_def_var_fill(id, flags_var, 1, nullptr));   // every cell is written; 0: no flag
    nc(nc_def_var_deflate(id, flags_var, 1, 1, 4));
    nc(nc_put_att_schar(id, flags_var, "flag_masks", NC_BYTE, 3, masks));
    Text_attribute(nc, id, flags_var, "flag_meanings", "saturated weak outside_image_circle");
    Text_attribute(nc, id, flags_var, "units", "1");
    Text_attribute(nc, id, flags_var, "long_name", "the row's flags: a band sample at the clip level, "
                                                   "net signal below 3 sigma, a band pixel outside the image circle");
    Text_attribute(nc, id, flags_var, "coordinates", row_coordinates);
    for (const NetcdfScalar& scalar : scalars) {
        int variable = -1;
        nc(nc_def_var(id, scalar.name.c_str(), NC_DOUBLE, 0, nullptr, &variable));
        Text_attribute(nc, id, variable, "units", scalar.units);
        if (!scalar.standard_name.empty()) Text_attribute(nc, id, variable, "standard_name", scalar.standard_name);
        Text_attribute(nc, id, variable, "long_name", scalar.long_name);
        nc(nc_enddef(id));
        nc(nc_put_var_double(id, variable, &scalar.value));
        nc(nc_redef(id));
    }
    nc(nc_enddef(id));

    std::vector<double> stamps;
    std::vector<const char*> names, sources;
    for (const FrameRecord* frame : measured) {
        stamps.push_back(frame->dated.known ? frame->dated.time : missing);
        names.push_back(frame->name.c_str());
        sources.push_back(frame->dated.known ? frame->dated.source.c_str() : "");
    }
    if (times > 0) {
        nc(nc_put_var_double(id, time_var, stamps.data()));
        nc(nc_put_var_string(id, name_var, names.data()));
        nc(nc_put_var_string(id, source_var, sources.data()));
    }
    std::vector<int> ys;
    for (const ProfileRow& row : profile) ys.push_back(row.y);
    if (rows > 0) nc(nc_put_var_int(id, row_var, ys.data()));
    std::vector<float> values;
    for (size_t v = 0; v < row_ids.size(); ++v) {
        values.clear();
        for (const ProfileRow& row : profile) values.push_back(static_cast<float>(row_variables[v].value(row)));
        Put_floats(nc, id, row_ids[v], values);
    }
    for (size_t v = 0; v < scattering_ids.size(); ++v) {
        values.assign(rows, std::numeric_limits<float>::quiet_NaN());
        for (size_t k = 0; k < rows; ++k) {
            if (v < std::size(scattering_variables)) {
                if (k < scattering->rows.size()) values[k] = float(scattering_variables[v].value(scattering->rows[k]));
            } else if (k < scattering->fit.model.size()) {
                values[k] = float(scattering->fit.model[k]);
            }
        }
        Put_floats(nc, id, scattering_ids[v], values);
    }
    for (size_t v = 0; v < time_ids.size(); ++v) {
        values.clear();
        for (const FrameRecord* frame : measured) values.push_back(static_cast<float>(time_variables[v].value(*frame)));
        Put_floats(nc, id, time_ids[v], values);
    }
    for (size_t v = 0; v < cell_ids.size(); ++v) {
        values.assign(times * rows, std::numeric_limits<float>::quiet_NaN());
        for (size_t t = 0; t < times; ++t) {
            for (size_t k = 0; k < measured[t]->rows.size(); ++k) {
                const auto row = row_of_y.find(measured[t]->rows[k].y);
                if (row == row_of_y.end()) continue;
                values[t * rows + row->second] = static_cast<float>(cell_variables[v].value(*measured[t], k));
            }
        }
        Put_floats(nc, id, cell_ids[v], values);
    }
    std::vector<signed char> flags(times * rows, 0);
    for (size_t t = 0; t < times; ++t) {
        const FrameRecord& frame = *measured[t];
        for (size_t k = 0; k < frame.rows.size() && k < frame.row_uncertainty.size(); ++k) {
            const auto row = row_of_y.find(frame.rows[k].y);
            if (row != row_of_y.end()) flags[t * rows + row->second] = Flag_bits(frame.row_uncertainty[k]);
        }
    }
    if (!flags.empty()) nc(nc_put_var_schar(id, flags_var, flags.data()));
    if (id >= 0) nc(nc_close(id));
    const int renamed = nc.Error().empty() ? std::rename(partial.c_str(), file.c_str()) : -1;
    const int error = errno;
    EndingSignalsHeld held;
    Forget_night_temporaries();
    if (renamed != 0) {
        std::remove(partial.c_str());
        // The system's reason where a system call failed under the library (whose own
        // word for it can mislead: a full disk makes "Permission denied" of it).
        const int system_error = nc.Error().empty() ? error : nc.System_error();
        return Failure{exit_product_not_written,
                       "can't write " + file + (system_error != 0 ? "" : " (netCDF: " + nc.Error() + ")"),
                       system_error};
    }
    return {};
}
