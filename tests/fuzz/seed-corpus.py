#!/usr/bin/env python3
"""Writes a seed corpus for each fuzz target from the string literals of the unit tests
of the same code, so fuzzing starts from the inputs the tests already know matter.

The container reader starts from well-formed containers written here, the PE reader
from the images other builds made: the fuzz preset's seed-images/ (the packer's fixture
images, one of them packed), and the stubs and test fixtures of any other build tree.

Usage: seed-corpus.py <corpus-dir>   (writes <corpus-dir>/<target>/seed-*)
"""
import glob
import hashlib
import os
import re
import struct
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


# fuzz-container's input: resources, each a kind byte (0 manifest, 1 header, 2 data,
# 3 certificate, 4 any name: the bytes before the data's first NUL), an index byte and a
# 16-bit little-endian length, then the bytes.
MANIFEST, HEADER, DATA, CERTIFICATE, NAMED = range(5)


def resource(kind, index, data):
    return struct.pack("<BBH", kind, index, len(data)) + data


def manifest(count):
    return resource(MANIFEST, 0, b"TeskInstV1".ljust(15, b"\0") + bytes([count]))


def header(index, arch, data_name, file_name):
    return resource(HEADER, index, struct.pack("<I", arch) + data_name.ljust(28, b"\0") + file_name.ljust(224, b"\0"))


def container_seeds():
    yield manifest(0)
    yield manifest(1) + header(0, 3, b"BIN_00", b"product.msi") + resource(DATA, 0, b"package bytes")
    yield (manifest(3) + header(0, 1, b"BIN_00", b"Data1.cab") + resource(DATA, 0, b"cabinet") +
           header(1, 2, b"BIN_01", b"x86.msi") + resource(DATA, 1, b"x86") +
           header(2, 3, b"BIN_02", b"amd64.MSI") + resource(DATA, 2, b"amd64"))
    yield (manifest(1) + header(0, 1, b"OTHER", b"caf\xc3\xa9 \xe6\x97\xa5.msi") +
           resource(NAMED, 0, b"OTHER\0data"))
    yield manifest(1) + header(0, 1, b"BIN_00", b"COM\xc2\xb9.msi") + resource(DATA, 0, b"x")
    yield manifest(2) + header(0, 3, b"BIN_00", b"a.msi") + resource(HEADER, 1, b"short")
    yield (manifest(1) + header(0, 1, b"BIN_00", b"p.msi") + resource(DATA, 0, b"p") +
           resource(CERTIFICATE, 0, b"0\x82\x01\x00der") + resource(CERTIFICATE, 1, b"second") +
           resource(CERTIFICATE, 3, b"after a gap"))


# Images larger than this make slow seeds; the fixtures are a few tens of kilobytes.
MAX_IMAGE = 1 << 20
IMAGE_PATTERNS = ["build/*/seed-images/*.exe", "build/*/bin/TeskStub.exe",
                  "build/*/tests/Installer/Packer-posix/fixtures/*.exe"]


def image_seeds():
    for pattern in IMAGE_PATTERNS:
        for path in sorted(glob.glob(os.path.join(TOP, pattern))):
            if os.path.getsize(path) <= MAX_IMAGE:
                with open(path, "rb") as f:
                    yield f.read()


GENERATED = {
    "fuzz-container": container_seeds,
    "fuzz-peimage": image_seeds,
}


def write_seeds(out, target, data_list):
    directory = os.path.join(out, target)
    os.makedirs(directory, exist_ok=True)
    names = set()
    for data in data_list:
        name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
        names.add(name)
    print(f"{target}: {len(names)} seeds")


def main():
    out = sys.argv[1]
    for target, (paths, prefixes, join) in TARGETS.items():
        write_seeds(out, target, [prefix + seed for seed in set(seeds(paths, join)) for prefix in prefixes])
    for target, generate in GENERATED.items():
        write_seeds(out, target, generate())


main()
