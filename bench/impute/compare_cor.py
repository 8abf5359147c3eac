#!/usr/bin/env python3
"""Compares the imputed values of two ".cor" files of the same run setup: the same cases,
multiples and variables, and every value equal within a relative tolerance (default 1e-9).
The files hold blocks of an int32 length (the whole block), an int32 0, the int32 case number,
an int32 0, int16 indexes (multiple, implicate) and entries of an int16 variable and 8 value
bytes; an 8-byte block of zeros ends them. A difference is taken relative to the larger of the two
values and the root mean square of the variable's values in the first file, so that values
near 0 are not judged by rounding alone. Usage: compare_cor.py FIRST.cor SECOND.cor HEADER_INDEXES [TOL]
where HEADER_INDEXES is how many int16 indexes follow the case number (1 with multiples only)."""
import struct
import sys


def blocks(path, indexes):
    data = open(path, "rb").read()
    at = 0
    while True:
        (length,) = struct.unpack_from("<i", data, at)
        if length == 0:
            return
        case = struct.unpack_from("<i", data, at + 8)[0]
        header = 16 + 2 * indexes
        keys = struct.unpack_from("<%dh" % indexes, data, at + 16)
        entries = []
        for e in range(header, length, 10):
            variable = struct.unpack_from("<h", data, at + e)[0]
            entries.append((variable, struct.unpack_from("<d", data, at + e + 2)[0]))
        yield (case, keys), entries
        at += length


def main():
    first, second, indexes = sys.argv[1], sys.argv[2], int(sys.argv[3])
    tolerance = float(sys.argv[4]) if len(sys.argv) > 4 else 1e-9
    a = list(blocks(first, indexes))
    b = list(blocks(second, indexes))
    if [k for k, _ in a] != [k for k, _ in b]:
        sys.exit("different cases or multiples")
    squares = {}
    for _, entries in a:
        for variable, x in entries:
            total, count = squares.get(variable, (0.0, 0))
            squares[variable] = (total + x * x, count + 1)
    scale = {v: (total / count) ** 0.5 for v, (total, count) in squares.items()}
    worst = 0.0
    worst_absolute = 0.0
    worst_at = None
    values = 0
    for (key, ea), (_, eb) in zip(a, b):
        if [v for v, _ in ea] != [v for v, _ in eb]:
            sys.exit("different variables in case %d" % key[0])
        for (variable, x), (_, y) in zip(ea, eb):
            values += 1
            difference = abs(x - y) / max(abs(x), abs(y), scale[variable], 1e-300) if x != y else 0.0
            worst_absolute = max(worst_absolute, abs(x - y))
            if difference > worst:
                worst, worst_at = difference, (key, x, y)
    print("%d values, largest relative difference %.3g, largest absolute %.3g" % (values, worst, worst_absolute))
    if worst_at is not None:
        print("largest relative difference at case %d multiple %d: %.17g and %.17g" % (worst_at[0][0], worst_at[0][1][0], worst_at[1], worst_at[2]))
    sys.exit(0 if worst <= tolerance else 1)


main()
