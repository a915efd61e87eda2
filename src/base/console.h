// The run's console: the stream every stage prints its report to, the run's own
// banner, and the line with which a stage that fails ends the run.
//
// `tavrolin` prints to standard output; a driver that measures several frames points
// the console at each frame's own transcript instead.
#pragma once

#include <iosfwd>
#include <string>

#include "base/failure.h"

// The stream the stages print to: standard output unless a driver chose another.
std::ostream& Console();
void Use_console(std::ostream& stream);

// The stream of advice: after a failure line of the report, what the user can do
// about it (how to make a 16-bit picture, the system's reason, where files are looked
// for). It goes to standard error, so that the console report on standard output
// stays exactly the report; a driver may silence it (a night's workers do).
std::ostream& Advice();
void Use_advice(std::ostream& stream);

// Prints the failure's reason with ", ending..." as one console line and returns the
// failure, which ends the run.
Failure End_stage(Failure failure);
Failure End_stage(int code, const std::string& reason);

// The banner every run prints first, with the empty line after it.
void Print_banner();
