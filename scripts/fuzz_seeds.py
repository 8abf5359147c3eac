#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/) from the test
fixtures: setups and metadata quoted in the tests, the demo files, and small binary files built
from the layouts the readers document. Run from the source root; existing seeds are replaced.
With the path of a built tesset (scripts/fuzz_seeds.py build/bin/tesset), the control files that
it writes for the tesset seeds become the control seeds."""
import glob
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.getcwd()
CORPUS = os.path.join(ROOT, "tests", "fuzz", "corpus")
LITERAL = re.compile(rb'"((?:[^"\\\n]|\\.)*)"')
SEQUENCE = re.compile(rb'(?:"(?:[^"\\\n]|\\.)*"\s*)+')
ESCAPES = {b"n": b"\n", b"t": b"\t", b"r": b"\r", b"0": b"\0"}
HEX = b"0123456789abcdefABCDEF"


def decode(body):
    """The bytes of a C++ string literal's body."""
    out, i = bytearray(), 0
    while i < len(body):
        if body[i:i + 1] != b"\\" or i + 1 == len(body):
            out += body[i:i + 1]
            i += 1
            continue
        escape = body[i + 1:i + 2]
        j = i + 2
        if escape == b"x":
            while j < len(body) and j < i + 4 and body[j:j + 1] in HEX:
                j += 1
            out += bytes([int(body[i + 2:j], 16)]) if j > i + 2 else b"x"
        else:
            out += ESCAPES.get(escape, escape)
        i = j
    return bytes(out)


def literals(paths):
    """Every sequence of adjacent string literals in the files, concatenated."""
    for path in paths:
        text = re.sub(rb"//[^\n]*", b"", open(path, "rb").read())
        for match in SEQUENCE.finditer(text):
            yield b"".join(decode(m.group(1)) for m in LITERAL.finditer(match.group(0)))


def write(target, data, limit):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()[:16]
    if len(os.listdir(folder)) < limit:
        open(os.path.join(folder, name), "wb").write(data)


def distinct(items, limit):
    seen, kept = set(), []
    for item in sorted(items, key=len, reverse=True):
        if item not in seen:
            seen.add(item)
            kept.append(item)
    # The longest ones carry the most statements; keep a spread of lengths.
    step = max(1, len(kept) // limit)
    return kept[::step][:limit]


def setups():
    found = [s for s in literals(glob.glob("tests/**/*.cpp", recursive=True) + glob.glob("tests/**/*.h", recursive=True))
             if s.count(b";") >= 2 and b"\n" in s]
    found += [open(p, "rb").read() for p in glob.glob("examples/**/*.set", recursive=True)]
    for setup in distinct(found, 40):
        write("setup", setup, 40)


def tesset():
    bodies = [s for s in literals(glob.glob("tests/tesset/*.cpp") + glob.glob("tests/tesset/*.h"))
              if b";" in s and b"variables" not in s and b"standard" not in s]
    for body in distinct(bodies, 40):
        setup = body if b"datain" in body.lower() else b"datain ds;\n" + body
        if b"run;" not in setup.lower():
            setup += b"\nrun;\n"
        write("tesset", b"\0" + setup, 40)
        if len(body) % 3 == 0:  # a few under a host package, which needs no DATAIN
            write("tesset", b"\2" + body + b"\nrun;\n", 48)


def metadata():
    found = [s for s in literals(glob.glob("tests/**/*.cpp", recursive=True) + glob.glob("tests/**/*.h", recursive=True))
             if b"name=" in s and (b"variables" in s or b"codeframes" in s)]
    for meta in distinct(found, 30):
        write("metadata", meta if b"standard" in meta else b"standard;\n" + meta, 30)


def getdata():
    data = [open(p, "rb").read() for p in glob.glob("examples/**/*.csv", recursive=True)]
    data += [b"001 12345AB -9\n002-00050CD  3\n003 1.5  EF   \n004     7   12\n"]
    data += [b"a;1;x\nb;2;y\nc;3;z\n", b"id name\tv\n1 a\t2.5\n2 \"b c\"\t-3e2\n"]
    data += [b"id,name,income,\"score, final\"\r\n1,\"Smith, J\",1200.50,NA\r\n2,\"O\"\"Neil\",,3\r\n"]
    data += [b"\xEF\xBB\xBFid,v\r1,2.5\r2,-3\r3,", b"1st\ta b\ta_b\tA_B\t\n1\t2\t3\t4\t5\n"]
    binary = b""
    for i1, i2, i4, f4, f8, text in [(-128, -32768, -2**31, 1.5, 1e300, b"abc"), (127, 32767, 2**31 - 1, -0.1, -2.25, b"abcdefgh")]:
        binary += struct.pack("<bhifd", i1, i2, i4, f4, f8) + text.ljust(8) + b"\n"
    paths = 6  # five import setups and the splitter
    for n, sample in enumerate(data):
        for path in (2, 3, 4, 5):
            write("getdata", bytes([path + paths * (n % 3)]) + sample, 40)
        write("getdata", bytes([5]) + bytes([n]) + sample, 40)
    write("getdata", bytes([0]) + data[1], 40)
    write("getdata", bytes([1]) + binary, 40)


def settings():
    write("settings", open("settings.xml", "rb").read(), 10)
    write("settings", b'<settings><gnuplot path="/usr/bin/gnuplot" /><viewer path="a ""b"" c"/></settings>', 10)
    write("settings", b'<r  path = "R" other="x">', 10)
    write("settings", b"<sas path=\"unclosed", 10)


def cor():
    # Blocks: int32 length and zero, int32 observation and zero, int16 multiple, int16 implicate,
    # then (int16 variable, 8 bytes) entries; a block of length 0 ends the file.
    def block(observation, multiple, implicate, entries):
        head = struct.pack("<ii", observation, 0)
        if multiple is not None:
            head += struct.pack("<h", multiple)
        if implicate is not None:
            head += struct.pack("<h", implicate)
        body = b"".join(struct.pack("<h", v) + value for v, value in entries)
        return struct.pack("<ii", 8 + len(head) + len(body), 0) + head + body

    end = struct.pack("<ii", 0, 0)
    num = lambda x: struct.pack("<d", x)
    # shape byte: multiples (bits 0-1), implicates (2-3), variables - 1 (4-5), text flags (6-7)
    cases = [
        (0x00, 3, [block(1, None, None, [(0, num(1.5))]), block(3, None, None, [(0, num(-2))])]),
        (0x11, 4, [block(1, 1, None, [(0, num(1)), (1, num(2))]), block(2, 1, None, [(1, num(3))])]),
        (0x12, 2, [block(1, m, None, [(0, num(m))]) for m in (1, 2)] + [block(2, 2, None, [(1, num(9))])]),
        (0x16, 2, [block(1, 1, 0, [(0, num(1))]), block(1, 1, 1, [(1, num(2))]), block(1, 2, 0, [(0, num(3))])]),
        (0x64, 3, [block(1, None, 1, [(0, b"abc     ")]), block(2, None, 1, [(1, num(4))])]),
        (0xB1, 2, [block(2, 1, None, [(2, b"x       "), (0, num(7))])]),
    ]
    for shape, observations, blocks in cases:
        write("cor", bytes([shape, observations - 1]) + b"".join(blocks) + end, 20)
        write("cor", bytes([shape, observations - 1]) + b"".join(blocks)[:-3], 20)


def replicates():
    # layout byte: by count (bits 0-1), text by (2-4), design (5), least squares (6), weight (7)
    def record(layout, imputation, by, stratum, cluster, params, aux):
        design, ls = layout & 0x20, layout & 0x40
        out = struct.pack("<d", imputation)
        for i, value in enumerate(by):
            out += value.ljust(8) if (layout >> (2 + i)) & 1 else struct.pack("<d", value)
        if design:
            out += struct.pack("<dd", stratum, cluster)
        out += struct.pack("<dd", 100, 250.5)
        if not design:
            out += struct.pack("<d", 97)
        out += struct.pack("<d", -12.5)
        if ls:
            out += struct.pack("<d", 40.0)
        out += struct.pack("<i", len(params))
        for name, value in params:
            out += name.ljust(32, b"\0") + struct.pack("<d", value)
        if not design:
            p = len(params)
            out += b"".join(struct.pack("<d", 0.01 * (k + 1)) for k in range(p * (p + 1) // 2))
        out += struct.pack("<i", len(aux))
        for name, value in aux:
            out += name.ljust(32, b"\0") + struct.pack("<d", value)
        return out

    params = [(b"Intercept", 1.25), (b"age", -0.5)]
    for layout in (0x00, 0x40, 0x01, 0x05, 0x20, 0x21, 0x62, 0xA0, 0x2A):
        by_count = layout & 3
        rows = []
        for imputation in (1, 2):
            for replicate in range(3 if layout & 0x20 else 1):
                by = [b"A" if (layout >> (2 + i)) & 1 else float(i + 1) for i in range(by_count)]
                rows.append(record(layout, imputation, by, 1 + replicate // 2, replicate, params,
                                   [(b"_SIGMA_", 2.0)] if layout & 1 else []))
        write("replicates", bytes([layout]) + b"".join(rows), 20)


def control(tesset_program):
    """The control files that the checker writes for the tesset seeds it accepts."""
    dataset = re.search(rb'dataset_metadata =\s*((?:"(?:[^"\\\n]|\\.)*"\s*)+);',
                        open("tests/fuzz/fuzz_tesset.cpp", "rb").read()).group(1)
    dataset = b"".join(decode(m.group(1)) for m in LITERAL.finditer(dataset))
    folder = os.path.join(CORPUS, "tesset")
    for name in sorted(os.listdir(folder)):
        seed = open(os.path.join(folder, name), "rb").read()
        with tempfile.TemporaryDirectory() as work:
            for met in ("ds.met", "a.met"):
                open(os.path.join(work, met), "wb").write(dataset)
            open(os.path.join(work, "a.set"), "wb").write(seed[1:])
            host = {0: [], 1: ["/R"], 2: ["/SAS"], 3: ["/SPSS"], 4: ["/STATA"]}[seed[0] % 5]
            subprocess.run([os.path.abspath(tesset_program), "a.set", "/BATCH"] + host, cwd=work,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            ctl = os.path.join(work, "a.ctl")
            if os.path.exists(ctl):
                write("control", open(ctl, "rb").read(), 30)


def main():
    targets = ["setup", "tesset", "metadata", "getdata", "settings", "cor", "replicates"]
    if len(sys.argv) > 1:
        targets.append("control")
    for target in targets:
        folder = os.path.join(CORPUS, target)
        if os.path.isdir(folder):
            for name in os.listdir(folder):
                os.remove(os.path.join(folder, name))
    setups()
    tesset()
    metadata()
    getdata()
    settings()
    cor()
    replicates()
    if len(sys.argv) > 1:
        control(sys.argv[1])


if __name__ == "__main__":
    sys.exit(main())
