#!/usr/bin/env python3
"""Writes a seed corpus for each fuzz target from the string literals of the unit tests
of the same code, so fuzzing starts from the inputs the tests already know matter.

Usage: seed-corpus.py <corpus-dir>   (writes <corpus-dir>/<target>/seed-*)
"""
import hashlib
import os
import re
import sys

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# target: (test sources, prefixes put in front of every literal, join a line's literals with NUL)
TARGETS = {
    "fuzz-argv": (["tests/Runtime/common/misc/tst-getoptargv.cpp"], [b"\x00", b"\x01", b"\x80"], False),
    "fuzz-utf": (["tests/Runtime/common/string/tst-utf8.cpp", "tests/Runtime/common/string/tst-utf16.cpp"],
                 [b""], False),
    "fuzz-path": (["tests/Runtime/common/path/tst-pathparse.cpp", "tests/Runtime/common/path/tst-pathabs.cpp",
                   "tests/Runtime/common/path/tst-pathmisc.cpp"], [b"\x00", b"\x01", b"\x09", b"\x11"], False),
    "fuzz-strtonum": (["tests/Runtime/common/string/tst-strtonum.cpp",
                       "tests/Runtime/common/string/tst-strutil-net.cpp"], [b"\x00\x00", b"\x10\x00", b"\x00\x03"],
                      False),
    "fuzz-getopt": (["tests/Runtime/common/misc/tst-getopt.cpp", "tests/Installer/win/Stub/tst-cmdline.cpp"],
                    [b"\x00", b"\x01", b"\x04"], True),
}

LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def decode(text):
    """A C string literal's bytes (escapes as C has them, \\u as UTF-8; the source is
    UTF-8), or None when it does not decode."""
    try:
        chars = text.encode("utf-8").decode("unicode_escape")
    except UnicodeDecodeError:
        return None
    return b"".join(bytes([ord(c)]) if ord(c) < 256 else c.encode("utf-8", "surrogatepass") for c in chars)


def seeds(paths, join):
    for path in paths:
        with open(os.path.join(TOP, path), encoding="utf-8") as f:
            for line in f:
                found = [b for b in (decode(m.group(1)) for m in LITERAL.finditer(line)) if b is not None]
                if not found:
                    continue
                if join:
                    yield b"\x00".join(found)
                else:
                    yield from found


def main():
    out = sys.argv[1]
    for target, (paths, prefixes, join) in TARGETS.items():
        directory = os.path.join(out, target)
        os.makedirs(directory, exist_ok=True)
        count = 0
        for seed in set(seeds(paths, join)):
            for prefix in prefixes:
                data = prefix + seed
                name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
                with open(os.path.join(directory, name), "wb") as f:
                    f.write(data)
                count += 1
        print(f"{target}: {count} seeds")


main()
