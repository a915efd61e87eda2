#include "base/signals.h"

#include <cstring>
#include <unistd.h>

namespace {

// What the handlers undo. Written only with the ending signals held (or before the
// handlers run), read only by the handlers.
volatile sig_atomic_t temporary_kept = 0;
char temporary_name[4096];
volatile sig_atomic_t terminal_kept = 0;
void (*volatile ending_cleanup)(int) = nullptr;
int terminal_descriptor = -1;
termios terminal_state;

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

const char picture_changed[] =
    "\nA picture file changed (was truncated) while it was being read, ending...\n";

// Only async-signal-safe calls: unlink, tcsetattr, write, sigaction, sigprocmask, raise.
extern "C" void End_on_signal(int signal_number)
{
    if (temporary_kept) unlink(temporary_name);
    if (ending_cleanup != nullptr && signal_number != SIGBUS) ending_cleanup(signal_number);
    if (terminal_kept) tcsetattr(terminal_descriptor, TCSANOW, &terminal_state);
    if (signal_number == SIGBUS) {
        ssize_t written = write(STDOUT_FILENO, picture_changed, sizeof picture_changed - 1);
        (void)written;
    }
    // End as the signal ends a process that does not handle it.
    struct sigaction usual;
    std::memset(&usual, 0, sizeof usual);
    usual.sa_handler = SIG_DFL;
    sigemptyset(&usual.sa_mask);
    sigaction(signal_number, &usual, nullptr);
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signal_number);
    sigprocmask(SIG_UNBLOCK, &own, nullptr);
    raise(signal_number);
}

void Set_action(int signal_number, void (*handler)(int))
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    // No other ending handler runs while one does.
    sigemptyset(&action.sa_mask);
    for (const int s : ending_signals) sigaddset(&action.sa_mask, s);
    sigaddset(&action.sa_mask, SIGBUS);
    sigaction(signal_number, &action, nullptr);
}

}  // namespace

void Install_signal_handlers()
{
    for (const int s : ending_signals) {
        struct sigaction current;
        // A signal the run was started with ignored (nohup, a background job) stays so.
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        Set_action(s, End_on_signal);
    }
    Set_action(SIGBUS, End_on_signal);
    Set_action(SIGPIPE, SIG_IGN);
    Set_action(SIGXFSZ, SIG_IGN);
}

EndingSignalsHeld::EndingSignalsHeld()
{
    sigset_t ending;
    sigemptyset(&ending);
    for (const int s : ending_signals) sigaddset(&ending, s);
    sigprocmask(SIG_BLOCK, &ending, &saved_);
}

EndingSignalsHeld::~EndingSignalsHeld()
{
    sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

void Keep_temporary_product(const char* name)
{
    const size_t length = std::strlen(name);
    if (length >= sizeof temporary_name) return;
    temporary_kept = 0;
    std::memcpy(temporary_name, name, length + 1);
    temporary_kept = 1;
}

void Forget_temporary_product()
{
    temporary_kept = 0;
}

void Remove_temporary_product()
{
    EndingSignalsHeld held;
    if (temporary_kept) unlink(temporary_name);
    temporary_kept = 0;
}

void Set_ending_cleanup(void (*cleanup)(int signal_number))
{
    ending_cleanup = cleanup;
}

void Keep_terminal_state(int descriptor, const termios& state)
{
    terminal_kept = 0;
    terminal_descriptor = descriptor;
    terminal_state = state;
    terminal_kept = 1;
}

void Forget_terminal_state()
{
    terminal_kept = 0;
}
