// The outcome of a step that can fail, the one way every reader, stage, product
// writer and step of the night says whether it went through: an empty Failure for
// success, else the exit code it ends the run (or the frame, or the night) with and
// the reason, worded for the console; `error` keeps the system's error number where
// the system gave one (for the advice that follows the reason).
#pragma once

#include <string>

struct Failure {
    int code = 0;          // 0: nothing failed
    std::string reason;    // what failed, naming the file or the value
    int error = 0;         // errno of the call that failed, or 0

    explicit operator bool() const { return code != 0; }
};
