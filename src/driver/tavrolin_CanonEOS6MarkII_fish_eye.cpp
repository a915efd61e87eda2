// TAVROLIN: the brightness of a laser beam photographed from the side through a
// fish-eye lens, from the camera's raw frame (the raw file, or DCRAW's 16-bit PGM of
// it). The run reads its settings, the beam path and the pictures, measures the
// sensor's dark levels, and writes the corrected green picture and the beam's data
// table.
//
// The run:
//  1. the banner;
//  2. the settings from the configuration file (ends with code 4 when wrong);
//  3. the beam path from the path file, sorted by row (code 5);
//  4. the frame's stages, from the pictures to the two products
//     (frame/frame_pipeline.h): codes 2 and 3 for a picture, 4 for an image centre
//     or rmax that doesn't fit it, 5 for bands outside it, 6 for a product that
//     could not be written;
//  5. the key-press wait, except after codes 4 and 5, which end the run at once as
//     the configuration and the path stages do; then the code.
// Memory that runs out outside the picture planes ends the run with code 2 and the
// console line "not enough memory, ending...", without a temporary product.
// The codes and their meanings are in base/run_codes.h.

#include <iostream>
#include <new>

#include "base/console.h"
#include "base/run_codes.h"
#include "base/signals.h"
#include "driver/keypress.h"
#include "frame/frame_pipeline.h"
#include "input/configuration.h"
#include "input/laserpath.h"

namespace {

int Run()
{
    Print_banner();
    if (Failure failure = Read_configuration()) return failure.code;
    if (Failure failure = Read_laser_path()) return failure.code;
    const FrameMeasurement frame = Measure_frame(FrameOptions{});
    const int code = frame.failure.code;
    if (code != exit_bad_configuration && code != exit_bad_path) Wait_for_key_press();
    return code;
}

}  // namespace

int main()
{
    Install_signal_handlers();
    try {
        return Run();
    } catch (const std::bad_alloc&) {
        // Wherever memory ran out: no unfinished product stays, and the run says why.
        Remove_temporary_product();
        Console() << std::endl;
        End_stage(exit_bad_picture, "not enough memory");
        return exit_bad_picture;
    }
}
