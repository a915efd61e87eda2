// The wait for a key press at the end of a run, so that a console window that was
// opened for the run stays readable until the user has seen the report.
#pragma once

// When standard input and standard output are both terminals: prints "Press any key
// to continue . . ." and waits for a single key press (the terminal is put into
// non-canonical mode and restored afterwards, or by the signal handlers when the run
// is interrupted). When either is not a terminal (the report redirected to a file or
// a pipe, scripts, CI), or the run is not in the terminal's foreground process group
// (started in the background), it prints nothing and returns at once. Whether the
// wait succeeded does not matter to the run.
void Wait_for_key_press();
