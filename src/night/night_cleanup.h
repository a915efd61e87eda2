// What a night leaves behind when it is ended early: the worker processes and
// gnuplot it started, the folder of the workers' results, the temporary pictures, and
// the frames' folders it made that are still empty. Once Start_night_cleanup has run,
// SIGINT, SIGTERM and SIGHUP stop every child, remove all of these and end the night
// with the signal's status (base/signals.h). A worker that ends by a signal of its
// own leaves temporaries that Remove_worker_leftovers takes away.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Hands the ending handlers the frames' folders that the night made (removed when
// still empty); from now on an ending signal cleans up as above.
void Start_night_cleanup(const std::vector<std::string>& folders_made);

// Does now what an ending signal would do (when the night ends for want of memory).
void End_night_cleanup();

// The folder of the workers' results: emptied and removed on an ending signal.
void Keep_work_folder(const std::string& folder);
void Forget_work_folder();

// A child process (a worker, gnuplot): stopped with SIGTERM and waited for on an
// ending signal. Forget it once it has been waited for.
void Keep_child(pid_t child);
void Forget_child(pid_t child);

// A temporary file of the night's own (a picture gnuplot draws): removed on an
// ending signal. At most a few at a time.
void Keep_night_temporary(const std::string& name);
void Forget_night_temporaries();

// Removes the temporary products of a worker that ended by a signal: the files
// "<product>.XXXXXX" of the frame's products in `frame_folder`, and the result's
// temporaries "<result>.XXXXXX" beside `result`.
void Remove_worker_leftovers(const std::string& frame_folder, const std::string& result);

// Removes every file in `folder`, then the folder (a folder of the night's own, with
// no folders inside).
void Remove_folder_and_files(const std::string& folder);
