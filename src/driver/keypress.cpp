#include "driver/keypress.h"

#include <iostream>
#include <termios.h>
#include <unistd.h>

void Wait_for_key_press()
{
    if (!isatty(STDIN_FILENO)) return;

    std::cout << "Press any key to continue . . ." << std::flush;
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios single_key = saved;
        single_key.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        single_key.c_cc[VMIN] = 1;
        single_key.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &single_key);
        char key;
        ssize_t got = read(STDIN_FILENO, &key, 1);
        (void)got;
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
    std::cout << std::endl;
}
