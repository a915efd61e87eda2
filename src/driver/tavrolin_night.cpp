// tavrolin-night: a night of exposures in one command. Every frame is measured as
// `tavrolin` measures it, with the same stages, into a folder of its own; the frames
// are then combined into the night's profile, its pictures and its record. The steps
// are in night/night_run.h.

#include <csignal>
#include <new>

#include "base/signals.h"
#include "night/night_cleanup.h"
#include "night/night_run.h"

namespace {

int Run_night(int argc, char** argv)
{
    Night night = Start_night(argc, argv);
    if (Failure failure = Read_command_line(argc, argv, night.options)) return End_night(failure);
    if (night.options.answered) return 0;   // --help, --version
    if (Failure failure = Name_frames(night)) return End_night(failure);
    if (Failure failure = Read_settings(night)) return End_night(failure);
    if (Failure failure = Date_frames(night)) return End_night(failure);
    if (Failure failure = Prepare_folder_and_inputs(night)) return End_night(failure);
    if (Failure failure = Prepare_dark(night)) return End_night(failure);
    if (Failure failure = Measure_night(night)) return End_night(failure);
    Write_night_products(night);
    return Night_exit_code(night);
}

}  // namespace

int main(int argc, char** argv)
{
    Install_signal_handlers();
    // The night waits for its own workers: a SIGCHLD ignored by whoever started it
    // would take their exit statuses away.
    std::signal(SIGCHLD, SIG_DFL);
    try {
        return Run_night(argc, argv);
    } catch (const std::bad_alloc&) {
        // Wherever memory ran out: the workers stop and nothing unfinished stays.
        Remove_temporary_product();
        End_night_cleanup();
        return End_night(Failure{exit_bad_picture, "not enough memory"});
    }
}
