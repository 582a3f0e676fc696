#!/usr/bin/env python3
"""libdravolin.so against peers on this machine: python3's base64, binascii
and quopri, and coreutils `base64`. What we write, they read back to the
same bytes; what they write, we read back.

Usage: interop_peers.py PATH/TO/libdravolin.so
"""

import base64
import binascii
import ctypes
import quopri
import random
import subprocess
import sys
import unittest

LIB = None


def load(path):
    lib = ctypes.CDLL(path)
    for name, result, args in (("AllocaTesto", ctypes.c_void_p, [ctypes.c_char_p, ctypes.c_int32]),
                               ("LunghezzaTesto", ctypes.c_int32, [ctypes.c_void_p]),
                               ("LiberaTesto", None, [ctypes.c_void_p]),
                               ("ConvertiMime64", ctypes.c_void_p, [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]),
                               ("DecifraMime64", ctypes.c_int32, [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32]),
                               ("ConvertiPrintable", ctypes.c_void_p, [ctypes.c_void_p]),
                               ("DecifraPrintable", ctypes.c_void_p, [ctypes.c_void_p])):
        getattr(lib, name).restype, getattr(lib, name).argtypes = result, args
    return lib


def take(testo):
    """The bytes of a library text, which is then freed."""
    assert testo, "the library returned NULL"
    try:
        return ctypes.string_at(testo, LIB.LunghezzaTesto(testo))
    finally:
        LIB.LiberaTesto(testo)


def on_text(function, data):
    testo = LIB.AllocaTesto(data, len(data))
    try:
        return function(testo)
    finally:
        LIB.LiberaTesto(testo)


def ours_mime64(data, opzione):
    return take(LIB.ConvertiMime64(data, len(data), opzione))


def ours_unmime64(text):
    buffer = ctypes.create_string_buffer(max(1, len(text)))
    count = on_text(lambda testo: LIB.DecifraMime64(testo, buffer, len(text)), text)
    assert count >= 0, f"DecifraMime64 returned {count} for {text[:80]!r}"
    return buffer.raw[:count]


def samples():
    """Bytes of every length to 120, then larger, and texts with every kind of line."""
    rng = random.Random(20240601)
    out = [bytes(range(256))] + [rng.randbytes(n) for n in list(range(120)) + [1000, 57 * 40, 1 << 20]]
    words = [b"il", b"=", b"caff\xc3\xa8", b"\x00", b"\t", b"  ", b"perch\xc3\xa9", b"x" * 90, b"\r"]
    for ending in (b"\n", b"\r\n"):
        for tail in (b"", b" ", b"\t", b"=", ending):
            lines = [b" ".join(rng.choice(words) for _ in range(rng.randrange(0, 25))) for _ in range(40)]
            out.append(ending.join(lines) + tail)
    return out


def peer(args, data):
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


class Peers(unittest.TestCase):
    def test_mime64(self):
        for data in samples():
            with self.subTest(length=len(data), start=data[:20]):
                self.assertEqual(binascii.a2b_base64(ours_mime64(data, 1)), data)
                self.assertEqual(base64.b64decode(ours_mime64(data, 0), validate=True), data)
                self.assertEqual(ours_unmime64(base64.encodebytes(data).replace(b"\n", b"\r\n")), data)
                self.assertEqual(ours_unmime64(base64.b64encode(data)), data)

    def test_mime64_coreutils(self):
        for data in samples()[::9]:
            with self.subTest(length=len(data)):
                self.assertEqual(peer(["base64", "-d", "-i"], ours_mime64(data, 1)), data)
                self.assertEqual(ours_unmime64(peer(["base64", "-w", "64"], data)), data)

    def test_printable(self):
        for data in samples():
            with self.subTest(length=len(data), start=data[:20]):
                text = on_text(lambda testo: take(LIB.ConvertiPrintable(testo)), data)
                self.assertEqual(quopri.decodestring(text), data)
                theirs = binascii.b2a_qp(data, istext=False)
                self.assertEqual(on_text(lambda testo: take(LIB.DecifraPrintable(testo)), theirs), data)


if __name__ == "__main__":
    LIB = load(sys.argv.pop(1))
    unittest.main(verbosity=1)
