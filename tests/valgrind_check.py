"""Reads a memcheck log and fails on what concerns the modules.

    python valgrind_check.py LOG [LOG ...]

Fails on any invalid access or bad free anywhere (after the suppressions in
valgrind-python.supp, the interpreters have none), on any use of an
uninitialised value with one of our libraries on its stack, and on any
definite leak allocated from one of our libraries (their entry points,
which only import numpy, aside). Interpreter start-up noise
and the objects an interpreter does not free at exit are left out.
"""
from __future__ import print_function

import re
import sys

# A frame in one of our libraries other than its entry point, whose work at
# import is numpy's and the interpreter's.
OURS = re.compile(r'^\s*(at|by) 0x[0-9A-F]+: (?!(PyInit_|init)(affinekit|planesieve)\b).*'
                  r'\b(affinekit|planesieve)\b', re.MULTILINE)
ALWAYS = ('Invalid read', 'Invalid write', 'Invalid free', 'Mismatched free', 'Source and destination overlap')
WHEN_OURS = ('Conditional jump', 'Use of uninitialised', 'Syscall param', 'definitely lost')


def records(lines):
    """Blocks of a memcheck log, split at its empty prefixed lines."""
    record = []
    for line in lines:
        text = re.sub(r'^==\d+== ?', '', line.rstrip('\n'))
        if text.strip():
            record.append(text)
        elif record:
            yield record
            record = []
    if record:
        yield record


def findings(lines):
    for record in records(lines):
        header, stack = record[0], '\n'.join(record[1:])
        if any(kind in header for kind in ALWAYS):
            yield record
        elif any(kind in header for kind in WHEN_OURS) and OURS.search(stack):
            yield record


def main():
    found = []
    for path in sys.argv[1:]:
        with open(path) as log:
            found.extend(findings(log))
    for record in found:
        print('\n'.join(record), end='\n\n')
    print('valgrind: %d finding(s) concerning the modules' % len(found))
    return 1 if found else 0


if __name__ == '__main__':
    sys.exit(main())
