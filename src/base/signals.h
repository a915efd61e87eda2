// The signals that end a run early, and the writes that fail: an interrupted run
// leaves no temporary product behind and no terminal without echo, and a product
// that can't be written is reported as such.
#pragma once

#include <csignal>
#include <termios.h>

// Installs the run's handlers. SIGINT, SIGTERM and SIGHUP (unless the run was started
// with them ignored) remove the temporary product being written, restore the
// terminal if the key-press wait changed it, and end the run with the signal's usual
// status; SIGBUS does the same after a message that a picture file changed (was
// truncated) while it was being read. SIGPIPE and SIGXFSZ are ignored, so that a
// write to a console that went away, or beyond the file-size limit, fails as a write
// and is handled where it happens.
void Install_signal_handlers();

// Holds SIGINT, SIGTERM and SIGHUP back while it lives: a temporary product is
// created and its name kept, or renamed and its name forgotten, as one step.
class EndingSignalsHeld {
public:
    EndingSignalsHeld();
    ~EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

private:
    sigset_t saved_;
};

// The temporary product file being written, for the handlers to remove: a copy of
// the name is kept (a name too long for the copy is not kept). Forget it once the
// file is renamed into place or removed.
void Keep_temporary_product(const char* name);
void Forget_temporary_product();

// Removes the temporary product being written, if any, when the run ends another way
// (for want of memory).
void Remove_temporary_product();

// A further step for the ending handlers of SIGINT, SIGTERM and SIGHUP, after the
// temporary product is removed: a driver that starts other processes stops them and
// removes what they leave. It must use only async-signal-safe calls. nullptr for none.
void Set_ending_cleanup(void (*cleanup)(int signal_number));

// The terminal state to put back on `descriptor` if the run is ended while the
// key-press wait has changed it.
void Keep_terminal_state(int descriptor, const termios& state);
void Forget_terminal_state();
