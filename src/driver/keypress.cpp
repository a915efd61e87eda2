#include "driver/keypress.h"

#include <iostream>
#include <termios.h>
#include <unistd.h>

#include "base/signals.h"

void Wait_for_key_press()
{
    // Only a user who reads the report on the terminal can answer the prompt: with the
    // report going into a file or a pipe the prompt would go there too, unseen.
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return;
    // A run in the background would be stopped by the terminal, or take a key meant
    // for the job in the foreground: only the foreground process group waits.
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    if (foreground != -1 && foreground != getpgrp()) return;

    std::cout << "Press any key to continue . . ." << std::flush;
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios single_key = saved;
        single_key.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        single_key.c_cc[VMIN] = 1;
        single_key.c_cc[VTIME] = 0;
        Keep_terminal_state(STDIN_FILENO, saved);   // put back if the run is interrupted here
        tcsetattr(STDIN_FILENO, TCSANOW, &single_key);
        char key;
        ssize_t got = read(STDIN_FILENO, &key, 1);
        (void)got;
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        Forget_terminal_state();
    }
    std::cout << std::endl;
}
