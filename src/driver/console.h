// The run's console: the stream every stage prints its report to, the run's own
// lines (the banner, the high-level-limit report), and the reason a stage gave when
// it ended the run.
//
// `tavrolin` prints to standard output; a driver that measures several frames points
// the console at each frame's own transcript instead.
#pragma once

#include <iosfwd>
#include <string>

// The stream the stages print to: standard output unless a driver chose another.
std::ostream& Console();
void Use_console(std::ostream& stream);

// The stream of advice: after a failure line of the report, what the user can do
// about it (how to make a 16-bit picture, the system's reason, where files are looked
// for). It goes to standard error, so that the console report on standard output
// stays exactly the report; a driver may silence it (a night's workers do).
std::ostream& Advice();
void Use_advice(std::ostream& stream);

// The reason the last stage that ended the run gave, without the ", ending..." the
// console shows after it (empty while no stage has failed).
extern std::string stage_failure;

// Records `reason` as the stage failure, prints it with ", ending..." as one console
// line, and returns `code`, the exit code that ends the run.
int End_stage(int code, const std::string& reason);

// The banner every run prints first, with the empty line after it.
void Print_banner();

// The line that says whether the corrected levels are cut at the high-level limit.
void Report_high_level_limit();
