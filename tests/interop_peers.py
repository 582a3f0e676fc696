#!/usr/bin/env python3
"""libdravolin.so against peers on this machine: python3's base64, binascii
and quopri, and coreutils `base64`. What we write they read back; what they
write we read back. Usage: interop_peers.py PATH/TO/libdravolin.so"""

import base64
import binascii
import ctypes
import quopri
import random
import subprocess
import sys
import unittest

P, I32 = ctypes.c_void_p, ctypes.c_int32
LIB = ctypes.CDLL(sys.argv.pop(1))
for name, result, args in (("AllocaTesto", P, [ctypes.c_char_p, I32]), ("LunghezzaTesto", I32, [P]),
                           ("LiberaTesto", None, [P]), ("ConvertiMime64", P, [ctypes.c_char_p, I32, I32]),
                           ("DecifraMime64", I32, [P, P, I32]), ("ConvertiPrintable", P, [P]),
                           ("DecifraPrintable", P, [P])):
    getattr(LIB, name).restype, getattr(LIB, name).argtypes = result, args


def take(testo):
    assert testo, "the library returned NULL"
    data = ctypes.string_at(testo, LIB.LunghezzaTesto(testo))
    LIB.LiberaTesto(testo)
    return data


def on_text(function, data):
    testo = LIB.AllocaTesto(data, len(data))
    try:
        return function(testo)
    finally:
        LIB.LiberaTesto(testo)


def unmime64(text):
    buffer = ctypes.create_string_buffer(max(1, len(text)))
    count = on_text(lambda testo: LIB.DecifraMime64(testo, buffer, len(text)), text)
    assert count >= 0, f"DecifraMime64 returned {count} for {text[:80]!r}"
    return buffer.raw[:count]


def samples():
    """Bytes of every length to 120 and larger, and texts with every kind of line."""
    rng = random.Random(20240601)
    out = [bytes(range(256))] + [rng.randbytes(n) for n in list(range(120)) + [1000, 57 * 40, 1 << 20]]
    words = [b"il", b"=", b"caff\xc3\xa8", b"\x00", b"\t", b"  ", b"perch\xc3\xa9", b"x" * 90, b"\r"]
    for ending in (b"\n", b"\r\n"):
        for tail in (b"", b" ", b"\t", b"=", ending):
            lines = [b" ".join(rng.choice(words) for _ in range(rng.randrange(0, 25))) for _ in range(40)]
            out.append(ending.join(lines) + tail)
    return out


class Peers(unittest.TestCase):
    def test_mime64(self):
        for i, data in enumerate(samples()):
            with self.subTest(length=len(data), start=data[:20]):
                self.assertEqual(binascii.a2b_base64(take(LIB.ConvertiMime64(data, len(data), 1))), data)
                self.assertEqual(base64.b64decode(take(LIB.ConvertiMime64(data, len(data), 0)), validate=True), data)
                self.assertEqual(unmime64(base64.encodebytes(data).replace(b"\n", b"\r\n")), data)
                if i % 9 == 0:
                    coreutils = subprocess.run(["base64", "-w", "64"], input=data, capture_output=True, check=True)
                    self.assertEqual(unmime64(coreutils.stdout), data)
                    ours = take(LIB.ConvertiMime64(data, len(data), 1))
                    self.assertEqual(subprocess.run(["base64", "-d", "-i"], input=ours, capture_output=True).stdout, data)

    def test_printable(self):
        for data in samples():
            with self.subTest(length=len(data), start=data[:20]):
                self.assertEqual(quopri.decodestring(on_text(lambda t: take(LIB.ConvertiPrintable(t)), data)), data)
                theirs = binascii.b2a_qp(data, istext=False)
                self.assertEqual(on_text(lambda t: take(LIB.DecifraPrintable(t)), theirs), data)


if __name__ == "__main__":
    unittest.main(verbosity=1)
