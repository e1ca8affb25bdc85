#!/usr/bin/python3
"""Packs the B-frames of an MPEG-4 Part 2 elementary stream into an AVI the way DivX and XviD store
them ("packed bitstream"): a P-frame and the B-frame after it share one chunk, and the chunk where
that P-frame is shown holds a not-coded placeholder (an N-VOP). Usage: pack_bframes.py IN.m4v OUT.avi WIDTH HEIGHT"""
import struct
import sys

VOP = 0xB6


def start_codes(data):
    at = data.find(b"\0\0\1")
    while at >= 0 and at + 3 < len(data):
        yield at, data[at + 3]
        at = data.find(b"\0\0\1", at + 3)


class Bits:
    def __init__(self, data, at):
        self.data, self.pos = data, at * 8

    def read(self, n):
        value = 0
        for _ in range(n):
            value = value << 1 | (self.data[self.pos >> 3] >> (7 - (self.pos & 7))) & 1
            self.pos += 1
        return value


def time_increment_bits(vol):
    b = Bits(vol, 4)
    b.read(1 + 8)  # random_accessible_vol, video_object_type_indication
    verid = 1
    if b.read(1):  # is_object_layer_identifier
        verid = b.read(4)
        b.read(3)
    if b.read(4) == 15:  # aspect_ratio_info: extended
        b.read(16)
    if b.read(1):  # vol_control_parameters
        b.read(3)
        if b.read(1):  # vbv_parameters
            b.read(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1)
    shape = b.read(2)
    if shape == 3 and verid != 1:
        b.read(4)
    b.read(1)
    resolution = b.read(16)
    return max(1, (resolution - 1).bit_length())


def not_coded_vop(vop, bits):
    """The VOP's header up to its time, then vop_coded = 0 and the stuffing to the next byte."""
    b = Bits(vop, 4)
    out = [0, 1]  # vop_coding_type P
    b.read(2)
    while True:
        bit = b.read(1)
        out.append(bit)
        if not bit:
            break
    out += [b.read(1) for _ in range(1 + bits + 1)]  # marker, vop_time_increment, marker
    out.append(0)  # vop_coded
    out += [0] + [1] * ((8 - (len(out) + 1) % 8) % 8)
    body = bytes(int("".join(map(str, out[i:i + 8])), 2) for i in range(0, len(out), 8))
    return b"\0\0\1\xb6" + body


def main():
    es = open(sys.argv[1], "rb").read()
    codes = list(start_codes(es))
    vop_starts = [at for at, code in codes if code == VOP]
    vol_at = next(at for at, code in codes if 0x20 <= code <= 0x2F)
    bits = time_increment_bits(es[vol_at:])
    header = es[:vop_starts[0]] + b"\0\0\1\xb2DivX503b1393p"
    vops = [es[a:b] for a, b in zip(vop_starts, vop_starts[1:] + [len(es)])]
    kind = [v[4] >> 6 for v in vops]

    chunks, keys, i = [], [], 0
    while i < len(vops):
        if kind[i] == 1 and i + 1 < len(vops) and kind[i + 1] == 2:
            p = i
            chunks.append(vops[i] + vops[i + 1])
            keys.append(False)
            i += 2
            while i < len(vops) and kind[i] == 2:
                chunks.append(vops[i])
                keys.append(False)
                i += 1
            chunks.append(not_coded_vop(vops[p], bits))
            keys.append(False)
        else:
            chunks.append(vops[i])
            keys.append(kind[i] == 0)
            i += 1
    chunks[0] = header + chunks[0]
    write_avi(sys.argv[2], chunks, keys)


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def write_avi(path, chunks, keys):
    width, height = int(sys.argv[3]), int(sys.argv[4])
    avih = struct.pack("<IIIIIIIIII16x", 40000, 0, 0, 0x10, len(chunks), 0, 1, 0, width, height)
    strh = b"vidsXVID" + struct.pack("<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, 25, 0, len(chunks), 0, 0xFFFFFFFF, 0, 0, 0,
                                     width, height)
    strf = struct.pack("<IiiHH4sIiiII", 40, width, height, 1, 24, b"XVID", width * height * 3, 0, 0, 0, 0)
    strl = b"LIST" + struct.pack("<I", 4 + len(chunk(b"strh", strh)) + len(chunk(b"strf", strf))) + b"strl" + \
        chunk(b"strh", strh) + chunk(b"strf", strf)
    hdrl_body = b"hdrl" + chunk(b"avih", avih) + strl
    hdrl = b"LIST" + struct.pack("<I", len(hdrl_body)) + hdrl_body
    movi_body, index, offset = b"movi", b"", 4
    for data, key in zip(chunks, keys):
        index += b"00dc" + struct.pack("<III", 0x10 if key else 0, offset, len(data))
        piece = chunk(b"00dc", data)
        movi_body += piece
        offset += len(piece)
    movi = b"LIST" + struct.pack("<I", len(movi_body)) + movi_body
    body = b"AVI " + hdrl + movi + chunk(b"idx1", index)
    open(path, "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main()
