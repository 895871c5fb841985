"""Independent reading of the node's frames for the end-to-end tests.

Frame layouts, the HalfSipHash-2-4 tag and the LoRa time on air are written here from their
published descriptions, not from the firmware's code, so that a test compares two independent
readings of every byte.
"""
import json
import math
import struct

MASK32 = 0xFFFFFFFF


def _rotl(x, b):
    return ((x << b) | (x >> (32 - b))) & MASK32


def halfsiphash_2_4(key8, data):
    """32-bit HalfSipHash-2-4 of data under an 8-byte key."""
    k0, k1 = struct.unpack("<II", key8)
    v0, v1, v2, v3 = k0, k1, 0x6C796765 ^ k0, 0x74656462 ^ k1

    def rounds(n):
        nonlocal v0, v1, v2, v3
        for _ in range(n):
            v0 = (v0 + v1) & MASK32
            v1 = _rotl(v1, 5) ^ v0
            v0 = _rotl(v0, 16)
            v2 = (v2 + v3) & MASK32
            v3 = _rotl(v3, 8) ^ v2
            v0 = (v0 + v3) & MASK32
            v3 = _rotl(v3, 7) ^ v0
            v2 = (v2 + v1) & MASK32
            v1 = _rotl(v1, 13) ^ v2
            v2 = _rotl(v2, 16)

    end = len(data) - len(data) % 4
    for i in range(0, end, 4):
        m = struct.unpack_from("<I", data, i)[0]
        v3 ^= m
        rounds(2)
        v0 ^= m
    b = (len(data) & 0xFF) << 24
    for i, byte in enumerate(data[end:]):
        b |= byte << (8 * i)
    v3 ^= b
    rounds(2)
    v0 ^= b
    v2 ^= 0xFF
    rounds(4)
    return (v1 ^ v3) & MASK32


def tag_ok(frame, key16):
    """The last 4 bytes are the tag of the rest, under the first 8 bytes of the key."""
    body, tag = frame[:-4], struct.unpack("<I", frame[-4:])[0]
    return halfsiphash_2_4(bytes(key16[:8]), body) == tag


def time_on_air_us(length, sf=7, bw_hz=125000, cr=1, preamble=8, crc=True, explicit=True, ldro=False):
    """The chip maker's formula: (preamble + 4.25 + payload symbols) x 2^SF / BW."""
    de = 1 if ldro else 0
    ih = 0 if explicit else 1
    n = 8 * length - 4 * sf + 28 + 16 * (1 if crc else 0) - 20 * ih
    payload = 8 + max(math.ceil(n / (4 * (sf - 2 * de))) * (cr + 4), 0)
    return (preamble + 4.25 + payload) * (2 ** sf) / bw_hz * 1e6


def u24(b, at):
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)


def header(b):
    return {"code": b[0], "uid": u24(b, 1), "counter": u24(b, 4)}


def packet3(b):
    assert len(b) == 16, len(b)
    f = header(b)
    f.update(temperature_c=b[7] / 3.0 - 25.0, supply_v=2.5 + b[8] * 0.005,
             power_factor=struct.unpack_from("<b", b, 9)[0] / 100.0, current_ma=struct.unpack_from("<H", b, 10)[0])
    return f


def _measure(b, at):
    chan, flags, count, average, rms_raw, rms_v, burden, _gap, phase, magnitude = struct.unpack_from("<BBHiiiHHii", b, at)
    return {"chan": chan, "phase_ok": flags & 1, "samples": count, "average": average, "rms_raw": rms_raw / 1e4,
            "rms_v": rms_v / 1e4, "burden": burden, "gap": _gap, "phase": phase / 1e4, "magnitude": magnitude / 1e4}


def packet7(b):
    assert len(b) == 116, len(b)
    f = header(b)
    f.update(revs=(b[7], b[8], b[9]), supply_v=2.5 + b[10] * 0.005, gap11=b[11])
    f["e_ind"] = _measure(b, 12)
    f["b"] = _measure(b, 40)
    mask, g1, g2, g3 = struct.unpack_from("<BBBB", b, 68)
    q = struct.unpack_from("<iiiiiiiii", b, 72)
    names = ["phase_corr", "slope_corr", "b_phase", "e_phase", "shift", "curr_orig", "curr_corr", "pf"]
    f["power"] = {n: v / 1e4 for n, v in zip(names, q[:8])}
    f["power"].update(mask=mask, gaps=(g1, g2, g3), watts=q[8] / 100.0,
                      clamp_shift=struct.unpack_from("<f", b, 108)[0])
    return f


def packet8(b):
    assert len(b) == 164, len(b)
    f = header(b)
    f.update(git=b[7:15].rstrip(b"\0").decode(), built=b[15:47].rstrip(b"\0").decode(), gap47=b[47],
             phase_corr=struct.unpack_from("<f", b, 48)[0], slope_corr=struct.unpack_from("<f", b, 52)[0],
             chip=b[56:68].hex().upper(), clamp=list(struct.unpack_from("<22f", b, 68)),
             hw=struct.unpack_from("<H", b, 156)[0], gap158=b[158:160])
    return f


def packet4(b):
    f = header(b)
    f.update(sequence=b[7], readings=b[8])
    assert len(b) == 13 + 3 * b[8], len(b)
    rows = []
    for i in range(b[8]):
        w = b[9 + 3 * i] | (b[10 + 3 * i] << 8) | (b[11 + 3 * i] << 16)
        clamp = w & 0xFFF
        rows.append((clamp - 4096 if clamp >= 2048 else clamp, w >> 12))
    f["rows"] = rows
    return f


def packet10(b):
    assert len(b) == 79, len(b)
    f = header(b)
    f.update(copies=[u24(b, 7 + 3 * i) for i in range(4)], chip=[b[19 + 12 * i:31 + 12 * i].hex().upper() for i in range(4)],
             phase=list(struct.unpack_from("<4H", b, 67)))
    return f


def packet17(b):
    assert len(b) == 18, len(b)
    f = header(b)
    f.update(ok=list(b[7:11]), reason=list(b[11:14]))
    return f


DECODERS = {3: packet3, 5: packet3, 4: packet4, 7: packet7, 8: packet8, 10: packet10, 17: packet17}


def read_air_log(path, sender="node"):
    """Frames of one sender: (json record, bytes)."""
    out = []
    with open(path) as log:
        for line in log:
            rec = json.loads(line)
            if rec["sender"] == sender:
                out.append((rec, bytes.fromhex(rec["hex"])))
    return out
