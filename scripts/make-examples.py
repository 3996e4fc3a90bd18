#!/usr/bin/env python3
"""Writes the example program files of examples/ (run from anywhere; rewrites them all).

puc-demo.hex      a PUC program in two sub-blocks, quick to flash (demo)
puc-full.hex      a PUC program filling all 46 sub-blocks a PUC takes (benchmark)
ht-pdo.hex        an HT program at absolute address 0x01010000, fed over PDO
ht-firmware.lst   the firmware list that names ht-pdo.hex for the HT board "HT-0001"
instrument/       the images and firmware list of the example instrument's release (OrvUpdate)
"""
import os

SUBBLOCK = 2048
# Image offsets of the sub-blocks a PUC download sends: 10..29 and 36..61.
PUC_SUBBLOCKS = list(range(10, 30)) + list(range(36, 62))
HT_PDO_BASE = 0x01010000


def program_bytes(count, seed):
    """Deterministic filler that looks like code: a banner, then pseudo-random bytes."""
    banner = b"OrvFlashPuc example program\0"
    state = seed
    body = bytearray()
    while len(body) < count - len(banner):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        body.append(state >> 16 & 0xFF)
    return banner + bytes(body)


def record(kind, address, data):
    fields = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    checksum = -sum(fields) & 0xFF
    return ":" + (fields + bytes([checksum])).hex().upper() + "\n"


def intel_hex(blocks, per_record=32):
    """blocks: (absolute address, bytes) pairs in rising order."""
    lines = []
    upper = 0
    for address, data in blocks:
        for start in range(0, len(data), per_record):
            absolute = address + start
            if absolute >> 16 != upper:
                upper = absolute >> 16
                lines.append(record(0x04, 0, upper.to_bytes(2, "big")))
            chunk = data[start:start + per_record]
            lines.append(record(0x00, absolute & 0xFFFF, chunk))
    lines.append(record(0x01, 0, b""))
    return "".join(lines)


def puc_program(subblocks, seed):
    return intel_hex([(index * SUBBLOCK, program_bytes(SUBBLOCK, seed + index))
                      for index in subblocks])


def main():
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    files = {
        "puc-demo.hex": puc_program([10, 36], seed=1),
        "puc-full.hex": puc_program(PUC_SUBBLOCKS, seed=2),
        "ht-pdo.hex": intel_hex([(HT_PDO_BASE, program_bytes(SUBBLOCK, 3))]),
        "ht-firmware.lst": "HT-0001\tht-pdo.hex\t0x%08X\n" % HT_PDO_BASE,
    }
    # The example instrument: each PUC its own small program, the HT board its firmware list.
    for seed, board in enumerate(["pump", "valve", "left-arm", "right-arm", "detector", "sampler"], 10):
        files["instrument/%s.hex" % board] = puc_program([10, 36], seed=seed)
    files["instrument/hv-supply.hex"] = intel_hex([(HT_PDO_BASE, program_bytes(SUBBLOCK, 20))])
    files["instrument/ht-firmware.lst"] = "HT-0001\thv-supply.hex\t0x%08X\n" % HT_PDO_BASE
    for name, text in files.items():
        with open(os.path.join(examples, name), "w", newline="\n") as out:
            out.write(text)


if __name__ == "__main__":
    main()
