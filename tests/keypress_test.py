#!/usr/bin/env python3
"""The key-press wait: with standard input and output on a terminal the run prompts and
waits for one key before it ends, and the terminal's line mode is restored afterwards,
also when a signal ends the run at the prompt; a run in the background, or with its
report or its input redirected to a file, ends at once without a prompt.
Usage: keypress_test.py TAVROLIN"""
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


def wait_without_key(pid, seconds):
    """The exit status of a run that must end by itself, or None if it still waits."""
    end = time.time() + seconds
    while time.time() < end:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
        time.sleep(0.05)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return None


def start(program, folder, stdin_file=None, stdout_file=None):
    """Starts the run on a new pseudo-terminal, with standard input or output
    redirected to a file if one is named."""
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(folder)
        if stdin_file:
            os.dup2(os.open(stdin_file, os.O_RDONLY), 0)
        if stdout_file:
            os.dup2(os.open(stdout_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644), 1)
        os.execv(program, [program])
    return pid, fd


def redirected(program, folder):
    """The report into a file (standard input still the terminal), and input from a
    file (standard output still the terminal): no prompt anywhere, no wait."""
    report = os.path.join(folder, 'console.txt')
    pid, fd = start(program, folder, stdout_file=report)
    shown = read_for(fd, 0.5)
    status = wait_without_key(pid, 10.0)
    assert status is not None, 'with the report in a file the run waited for a key'
    assert os.WEXITSTATUS(status) == 2, status
    with open(report, 'rb') as f:
        text = f.read()
    assert b'Can\'t open picture file' in text, text
    assert b'Press any key' not in text and b'Press any key' not in shown, (text, shown)

    empty = os.path.join(folder, 'no_keys.txt')
    open(empty, 'w').close()
    pid, fd = start(program, folder, stdin_file=empty)
    shown = read_for(fd, 0.5)
    status = wait_without_key(pid, 10.0)
    assert status is not None, 'with input from a file the run waited for a key'
    assert os.WEXITSTATUS(status) == 2, status
    assert b'Can\'t open picture file' in shown and b'Press any key' not in shown, shown


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
    redirected(program, folder)
    pid, fd = start(program, folder)
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
          'restored after SIGINT, SIGTERM and SIGHUP at the prompt; no wait in the background, '
          'with the report in a file or input from a file, nor for settings that do not fit the picture')


if __name__ == '__main__':
    main()
