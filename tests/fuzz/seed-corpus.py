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
                  "build/*/bin/BrindlecapSample.exe",
                  "build/*/tests/Installer/Packer-posix/fixtures/*.exe"]


def resource_tree(resources, section_va):
    """A resource section holding (type, name, language, data) entries, types and names
    a number or an ASCII string, laid out as the packer does: directories, names, data
    entries, data. Keys must be given in lookup order."""
    def key_order(key):
        return (0, key, 0) if isinstance(key, str) else (1, "", key)

    types = {}
    for type_key, name, language, data in resources:
        types.setdefault(type_key, {}).setdefault(name, []).append((language, data))
    type_keys = sorted(types, key=key_order)
    names = [(t, n) for t in type_keys for n in sorted(types[t], key=key_order)]
    off = 16 + 8 * len(type_keys)
    type_dirs = {}
    for t in type_keys:
        type_dirs[t] = off
        off += 16 + 8 * len(types[t])
    name_dirs = {}
    for t, n in names:
        name_dirs[(t, n)] = off
        off += 16 + 8 * len(types[t][n])
    strings = {}
    for key in [t for t in type_keys] + [n for _, n in names]:
        if isinstance(key, str) and key not in strings:
            strings[key] = off
            off += 2 + 2 * len(key)
    off = (off + 7) & ~7
    entries = off
    leaves = [(t, n, language, data) for t, n in names for language, data in types[t][n]]
    off += 16 * len(leaves)
    data_offsets = []
    for leaf in leaves:
        off = (off + 7) & ~7
        data_offsets.append(off)
        off += len(leaf[3])
    tree = bytearray(off)

    def directory(at, keys, targets):
        named = sum(isinstance(k, str) for k in keys)
        struct.pack_into("<HH", tree, at + 12, named, len(keys) - named)
        for i, (k, target) in enumerate(zip(keys, targets)):
            first = 0x80000000 | strings[k] if isinstance(k, str) else k
            struct.pack_into("<II", tree, at + 16 + 8 * i, first, target)

    directory(0, type_keys, [0x80000000 | type_dirs[t] for t in type_keys])
    index = 0
    for t in type_keys:
        name_keys = sorted(types[t], key=key_order)
        directory(type_dirs[t], name_keys, [0x80000000 | name_dirs[(t, n)] for n in name_keys])
        for n in name_keys:
            languages = [language for language, _ in types[t][n]]
            directory(name_dirs[(t, n)], languages, [entries + 16 * (index + i) for i in range(len(languages))])
            index += len(languages)
    for key, at in strings.items():
        struct.pack_into("<H", tree, at, len(key))
        tree[at + 2:at + 2 + 2 * len(key)] = key.encode("utf-16-le")
    for i, leaf in enumerate(leaves):
        struct.pack_into("<II", tree, entries + 16 * i, section_va + data_offsets[i], len(leaf[3]))
        tree[data_offsets[i]:data_offsets[i] + len(leaf[3])] = leaf[3]
    return bytes(tree)


def small_image(pe32_plus, with_reloc, resources, with_debug=False):
    """A PE executable of a few sectors: maybe .rdata with a debug directory, .rsrc with
    the resources and maybe a .reloc behind it. Small seeds let the fuzzer reach the
    header fields often."""
    file_align, section_align = 0x200, 0x1000
    sections = []
    if with_debug:
        # One CodeView entry, its data right behind it; the section is the first one, at
        # the first section address and file offset.
        codeview = b"RSDS" + bytes(16) + struct.pack("<I", 1) + b"seed.pdb\0"
        sections.append((b".rdata", struct.pack("<IIHHIIII", 0, 0, 0, 0, 2, len(codeview), section_align + 28,
                                                 file_align + 28) + codeview))
    rsrc_va = section_align * (1 + len(sections))
    sections.append((b".rsrc", resource_tree(resources, rsrc_va)))
    if with_reloc:
        sections.append((b".reloc", struct.pack("<IIHH", 0x1000, 12, 0xa010, 0)))
    optional_size = 240 if pe32_plus else 224
    headers = bytearray(file_align)
    headers[0:2] = b"MZ"
    struct.pack_into("<I", headers, 0x3c, 0x40)
    headers[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", headers, 0x44, 0x8664 if pe32_plus else 0x14c, len(sections), 0, 0, 0,
                     optional_size, 0x22 if pe32_plus else 0x102)
    opt = 0x58
    struct.pack_into("<H", headers, opt, 0x20b if pe32_plus else 0x10b)
    struct.pack_into("<II", headers, opt + 32, section_align, file_align)
    struct.pack_into("<H", headers, opt + 48, 6)  # subsystem version
    struct.pack_into("<I", headers, opt + 60, file_align)  # SizeOfHeaders
    dirs = opt + (112 if pe32_plus else 96)
    struct.pack_into("<I", headers, dirs - 4, 16)
    body = b""
    va = section_align
    for i, (name, data) in enumerate(sections):
        raw = data.ljust((len(data) + file_align - 1) // file_align * file_align, b"\0")
        struct.pack_into("<8sIIII", headers, opt + optional_size + 40 * i, name, len(data), va, len(raw),
                         file_align + len(body))
        struct.pack_into("<I", headers, opt + optional_size + 40 * i + 36, 0x40000040)
        directory, size = {b".rdata": (6, 28), b".rsrc": (2, len(data)), b".reloc": (5, len(data))}[name]
        struct.pack_into("<II", headers, dirs + 8 * directory, va, size)
        body += raw
        va += (len(data) + section_align - 1) // section_align * section_align
    struct.pack_into("<I", headers, opt + 56, va)  # SizeOfImage
    return bytes(headers) + body


def image_seeds():
    container = [(10, "BIN_00", 0, b"package"), (10, "HDR_00", 0, (b"\1\0\0\0" + b"BIN_00".ljust(28, b"\0") + b"p.msi").ljust(256, b"\0")),
                 (10, "MANIFEST", 0, b"TeskInstV1".ljust(15, b"\0") + b"\1")]
    own = [("TYPE", 1, 0, b"named type"), (3, 1, 0, b"icon"), (10, 7, 0, b"neutral"), (10, 7, 0x409, b"English"),
           (24, 1, 0, b"<assembly/>")]
    yield small_image(True, True, own)
    yield small_image(True, False, container + own)
    yield small_image(False, True, container)
    yield small_image(False, False, [(10, "EMPTY", 0, b"")])
    yield small_image(True, True, container, with_debug=True)
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
