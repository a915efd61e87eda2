#!/usr/bin/env python3
"""Checks the layering of the sources: every file lies in a room (a folder directly
under SRC_DIR), and a file includes headers only from its own room or from rooms
below it. The rooms, lowest first:
    base, input, model, measure, products, frame, night, driver
Only quoted includes that name a room ("model/lens.h", or a path relative to the
including file) are checked; system headers and generated ones are left alone.
Usage: check_includes.py [--graph] SRC_DIR
  --graph  also print how many includes go from each room to each lower room
Exits 1 on any upward include or any file outside a room, else 0."""
import argparse
import collections
import os
import re
import sys

ROOMS = ['base', 'input', 'model', 'measure', 'products', 'frame', 'night', 'driver']
LEVEL = {room: level for level, room in enumerate(ROOMS)}
SOURCE_SUFFIXES = ('.h', '.hh', '.hpp', '.c', '.cc', '.cpp', '.cxx', '.inc')
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def included_room(src_dir, includer, name):
    """The room an include names, or None for a header outside the rooms."""
    if name.startswith('.'):
        name = os.path.relpath(os.path.join(os.path.dirname(includer), name), src_dir)
    parts = os.path.normpath(name).replace(os.sep, '/').split('/')
    return parts[0] if len(parts) > 1 and parts[0] in LEVEL else None


def main():
    parser = argparse.ArgumentParser(description='Checks that no room of the sources '
                                     'includes a header from a higher room.')
    parser.add_argument('--graph', action='store_true',
                        help='print the include counts from room to room')
    parser.add_argument('src_dir')
    args = parser.parse_args()
    if not os.path.isdir(args.src_dir):
        parser.error('%s is not a folder' % args.src_dir)

    problems = []
    edges = collections.Counter()
    files = includes = 0
    for folder, subfolders, names in os.walk(args.src_dir):
        subfolders.sort()
        for name in sorted(names):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, args.src_dir).replace(os.sep, '/').split('/')
            room = relative[0] if len(relative) > 1 else None
            files += 1
            if room not in LEVEL:
                problems.append('%s: not in a room (the rooms are: %s)' % (path, ', '.join(ROOMS)))
                continue
            with open(path, encoding='utf-8', errors='replace') as source:
                for number, line in enumerate(source, 1):
                    match = INCLUDE.match(line)
                    target = match and included_room(args.src_dir, path, match.group(1))
                    if not target:
                        continue
                    includes += 1
                    edges[room, target] += 1
                    if LEVEL[target] > LEVEL[room]:
                        problems.append("%s:%d: room '%s' includes '%s' from a higher room"
                                        % (path, number, room, match.group(1)))

    for problem in problems:
        print(problem)
    if args.graph:
        for (room, target), count in sorted(edges.items(),
                                            key=lambda e: (-LEVEL[e[0][0]], -LEVEL[e[0][1]])):
            if room != target:
                print('%s -> %s: %d' % (room, target, count))
    print('check_includes: %d files, %d includes of room headers checked, %d problems'
          % (files, includes, len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
