#!/usr/bin/env python3
"""The key-press wait: on a terminal the run prompts and waits for one key before it
ends; the terminal's line mode is restored afterwards. Usage: keypress_test.py TAVROLIN"""
import os
import pty
import select
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


def main():
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp()
    # A run that ends on a missing picture: it waits for a key before exit code 2.
    with open(os.path.join(folder, 'tavrolinconfig.txt'), 'w') as f:
        f.write('missing.pgm NODARK\n')
    with open(os.path.join(folder, 'tavrolinpath.txt'), 'w') as f:
        f.write('1 2 3 4\n')
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
    print('key-press wait: prompted, waited, ended with 2 after the key, terminal restored')


if __name__ == '__main__':
    main()
