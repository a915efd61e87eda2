// The names of the night's products: in the night's folder, and in each frame's
// folder beside the products `tavrolin` writes (base/run_codes.h).
#pragma once

constexpr const char* night_profile_name = "night_profile.tsv";
constexpr const char* night_map_name = "night_map.png";
constexpr const char* night_profile_plot_name = "night_profile.png";
constexpr const char* night_scattering_plot_name = "night_scattering.png";
constexpr const char* night_record_name = "night.json";
constexpr const char* night_netcdf_name = "night.nc";
constexpr const char* master_dark_name = "master_dark.pgm";

// In each frame's folder: the frame's console transcript, and the data table's rows
// with their uncertainties and flags.
constexpr const char* frame_console_name = "console.txt";
constexpr const char* row_profile_name = "profile.tsv";
constexpr const char* frame_quicklook_name = "quicklook.png";

// The night's products, which no frame's folder may take the place of.
constexpr const char* night_product_names[] = {night_profile_name, night_map_name,
                                               night_profile_plot_name, night_scattering_plot_name,
                                               night_netcdf_name, night_record_name, master_dark_name};
