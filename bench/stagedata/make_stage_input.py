"""Writes the input of the stagedata benchmark: the standard dataset "big" (stratum s, cluster c,
value y, every tenth y missing) in random order, the describe setup "stage.set" that imputes y,
and "stage.cor.new" (to become "stage.cor" once the setup is checked, since the checker
removes an older one) with a value for each missing y in each multiple.
Usage: make_stage_input.py OBSERVATIONS MULTIPLES"""
import random
import struct
import sys

observations, multiples = int(sys.argv[1]), int(sys.argv[2])
missing = -1.7976931348623157e308
rng = random.Random(20261208)
with open("big.met", "w") as met:
    met.write("standard;\nvariables;\n  name=s type=float;\n  name=c;\n  name=y;\n")
with open("stage.set", "w") as setup:
    setup.write("datain big;\nstratum s;\ncluster c;\nmean y;\nmdata impute;\nmultiples %d;\nprint none;\nrun;\n"
                % multiples)
record = struct.Struct("<ddd")
block = struct.Struct("<iiiihhd")  # length, 0, observation, 0, multiple, variable, value
with open("big.dat", "wb") as data, open("stage.cor.new", "wb") as cor:
    rows, blocks = [], []
    for i in range(observations):
        cluster = rng.randrange(1000)
        stratum = cluster // 10
        y = missing if i % 10 == 0 else rng.random() * 100
        rows.append(record.pack(stratum, cluster, y))
        if y == missing:
            for m in range(1, multiples + 1):
                blocks.append(block.pack(block.size, 0, i + 1, 0, m, 2, rng.random() * 100))
        if len(rows) == 65536:
            data.write(b"".join(rows))
            cor.write(b"".join(blocks))
            rows, blocks = [], []
    data.write(b"".join(rows))
    cor.write(b"".join(blocks))
    cor.write(struct.pack("<ii", 0, 0))
