#!/usr/bin/env python3
"""The key-press wait: on a terminal the run prompts and waits for one key before it
ends; the terminal's line mode is restored afterwards, also when a signal ends the
run at the prompt; a run in the background does not wait. Usage: keypress_test.py TAVROLIN"""
import os
import pty
import select
import signal
import sys
import tempfile
import termios
import time


def read_for(fd, seconds):
    got = b''
    end = time.time() + seconds
    while time.time() < end:
        ready, _, _ = select.select([fd], [], [], 0.05)
        if ready:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            got += chunk
    return got


def interrupted_at_the_prompt(program, folder, signal_number):
    """A signal while the run waits ends it with the signal and restores line mode."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execv(program, [program])
    shown = read_for(fd, 2.0)
    assert shown.rstrip().endswith(b'Press any key to continue . . .'), shown
    assert not termios.tcgetattr(fd)[3] & termios.ICANON, 'the terminal is not in single-key mode'
    os.kill(pid, signal_number)
    _, status = os.waitpid(pid, 0)
    assert os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal_number, status
    after = termios.tcgetattr(fd)
    os.close(fd)
    assert after[3] & termios.ICANON and after[3] & termios.ECHO, \
        'line mode not restored after signal %d' % signal_number


def started_in_the_background(program, folder):
    """A run outside the terminal's foreground process group neither prompts nor waits
    (nor is stopped by the terminal for changing its mode)."""
    pid, fd = pty.fork()
    if pid == 0:
        # The session leader keeps the foreground; the run gets a process group of its own.
        run = os.fork()
        if run == 0:
            os.setpgid(0, 0)
            os.chdir(folder)
            os.execv(program, [program])
        _, status = os.waitpid(run, os.WUNTRACED)
        os._exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 99)
    shown = read_for(fd, 3.0)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 2, (status, shown)
    assert b'Press any key' not in shown, shown


def settings_that_do_not_fit_the_picture(program):
    """An image centre outside the laser picture ends the run with code 4, as the
    configuration does: without the wait."""
    folder = tempfile.mkdtemp()
    with open(os.path.join(folder, 'tavrolinconfig.txt'), 'w') as f:
        f.write('laser.pgm NODARK 500 10 30 1 0 10000 100 7000 2139 2052\n')
    with open(os.path.join(folder, 'tavrolinpath.txt'), 'w') as f:
        f.write('3100 1000 3300 3000\n')
    with open(os.path.join(folder, 'laser.pgm'), 'wb') as f:
        f.write(b'P5\n6384 4224\n65535\n')
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execv(program, [program])
    shown = read_for(fd, 3.0)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 4, (status, shown)
    assert b'(xcentre)' in shown and b'Press any key' not in shown, shown


def main():
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp()
    # A run that ends on a missing picture: it waits for a key before exit code 2.
    with open(os.path.join(folder, 'tavrolinconfig.txt'), 'w') as f:
        f.write('missing.pgm NODARK\n')
    with open(os.path.join(folder, 'tavrolinpath.txt'), 'w') as f:
        f.write('1 2 3 4\n')
    for signal_number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        interrupted_at_the_prompt(program, folder, signal_number)
    started_in_the_background(program, folder)
    settings_that_do_not_fit_the_picture(program)
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        os.execv(program, [program])
    shown = read_for(fd, 2.0)
    assert shown.rstrip().endswith(b'Press any key to continue . . .'), shown
    assert os.waitpid(pid, os.WNOHANG) == (0, 0), 'the run did not wait for a key'
    during = termios.tcgetattr(fd)
    assert not during[3] & termios.ICANON, 'the terminal is not in single-key mode'
    os.write(fd, b'k')
    read_for(fd, 1.0)
    _, status = os.waitpid(pid, 0)
    assert os.WEXITSTATUS(status) == 2, status
    after = termios.tcgetattr(fd)
    assert after[3] & termios.ICANON and after[3] & termios.ECHO, 'line mode not restored'
    print('key-press wait: prompted, waited, ended with 2 after the key, terminal restored; '
          'restored after SIGINT, SIGTERM and SIGHUP at the prompt; no wait in the background '
          'nor for settings that do not fit the picture')


if __name__ == '__main__':
    main()
