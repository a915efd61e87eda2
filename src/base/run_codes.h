// The run's exit codes and the names of the files it reads and writes: the one place
// that says what each code means and what each file is called.
#pragma once

// The value the run returns, which becomes the process's exit status. Code 1 is never
// returned, so that a crash or an abort can't pass for one of these.
enum ExitCode : int {
    exit_complete = 0,           // every stage ran and both products were written
    exit_bad_picture = 2,        // a picture can't be used: neither a binary PGM ("P5")
                                 // nor a raw file with an RGGB mosaic, missing, not a
                                 // regular file, truncated, of a size that can't be
                                 // processed or beyond the frame limit, a dark picture
                                 // of another size, or no memory for its plane
    exit_not_16_bit = 3,         // a picture's maximum value is not 65535
    exit_bad_configuration = 4,  // the configuration file is missing, unreadable, not a
                                 // regular file, or holds a token too long or with a NUL
                                 // byte, or a setting that is not a number of its kind or
                                 // out of range (the image circle also against the laser
                                 // picture's size, after its header)
    exit_bad_path = 5,           // the path file is missing, unreadable or not a regular
                                 // file, holds a token that is not a 32-bit integer (or
                                 // too long, or with a NUL byte) or fewer than two
                                 // distinct rows, or the beam bands leave the picture
    exit_product_not_written = 6,  // a product could not be written; an earlier file
                                   // of that name is left as it was
    exit_some_frames_failed = 7,   // tavrolin-night: some frames measured, some not
    exit_usage = 64,             // tavrolin-night: a mistake on the command line
};

// The inputs, in the working folder.
constexpr const char* config_file_name = "tavrolinconfig.txt";
constexpr const char* path_file_name = "tavrolinpath.txt";
// The dark-picture name that asks for no dark picture (exactly so, in capitals).
constexpr const char* no_dark_name = "NODARK";

// The products.
constexpr const char* corrected_picture_name = "linearlyscaledG.PGM";
constexpr const char* data_table_name = "tavrolin_data.txt";
