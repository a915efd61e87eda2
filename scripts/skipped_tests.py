#!/usr/bin/env python3
"""Prints every skipped test of a ctest run with its reason, from the JUnit file that
`ctest --output-junit FILE` writes. Usage: skipped_tests.py JUNIT_FILE"""
import sys
import xml.etree.ElementTree as ElementTree


def reason(output):
    """The reason a test gave: GoogleTest's lines after its "Skipped" marker, or the
    last lines that a test script printed."""
    lines = [line.rstrip() for line in output.splitlines()]
    for i, line in enumerate(lines):
        if line.endswith(': Skipped'):
            said = []
            for following in lines[i + 1:]:
                if following.startswith('[  SKIPPED ]'):
                    break
                said.append(following)
            return ' / '.join(s for s in said if s) or '(no reason given)'
    said = [line for line in lines if line]
    return ' / '.join(said[-3:]) or '(no output)'


def main():
    try:
        suite = ElementTree.parse(sys.argv[1]).getroot()
    except (OSError, ElementTree.ParseError) as error:
        print('skipped tests: no ctest results to read (%s)' % error)
        return
    skipped = [case for case in suite.iter('testcase') if case.find('skipped') is not None]
    if not skipped:
        print('Skipped tests: none')
        return
    print('Skipped tests: %d' % len(skipped))
    for case in skipped:
        output = case.findtext('system-out') or ''
        print('  %s: %s' % (case.get('name'), reason(output)))


if __name__ == '__main__':
    main()
