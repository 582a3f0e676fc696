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


def taken(testo):
    assert testo, "the library returned NULL"
    data = ctypes.string_at(testo, LIB.LunghezzaTesto(testo))
    return LIB.LiberaTesto(testo), data


def on_text(data, function, *rest):
    testo = LIB.AllocaTesto(data, len(data))
    return function(testo, *rest), LIB.LiberaTesto(testo)


def samples():
    """Bytes of every length to 120 and larger, and texts with every kind of line."""
    rng = random.Random(20240601)
    out = [bytes(range(256))] + [rng.randbytes(n) for n in list(range(120)) + [57 * 40, 1 << 20]]
    words = [b"il", b"=", b"caff\xc3\xa8", b"\x00", b"\t", b"  ", b"x" * 90, b"\r"]
    for ending in (b"\n", b"\r\n"):
        for tail in (b"", b" ", b"\t", b"=", ending):
            out.append(ending.join(b" ".join(rng.choices(words, k=rng.randrange(25))) for _ in range(40)) + tail)
    return out


class Peers(unittest.TestCase):
    def test_each_reads_what_the_other_writes(self):
        for i, data in enumerate(samples()):
            with self.subTest(length=len(data), start=data[:20]):
                single = taken(LIB.ConvertiMime64(data, len(data), 0))[1]
                self.assertEqual(base64.b64decode(single, validate=True), data)
                theirs = [base64.encodebytes(data).replace(b"\n", b"\r\n")]
                if i % 9 == 0:
                    wrapped = taken(LIB.ConvertiMime64(data, len(data), 1))[1]
                    self.assertEqual(subprocess.run(["base64", "-di"], input=wrapped, capture_output=True).stdout, data)
                    theirs.append(subprocess.run(["base64", "-w", "64"], input=data, capture_output=True).stdout)
                for text in theirs:
                    buffer = ctypes.create_string_buffer(len(data) + 1)
                    self.assertEqual(on_text(text, LIB.DecifraMime64, buffer, len(data))[0], len(data))
                    self.assertEqual(buffer.raw[:len(data)], data)
                qp = taken(on_text(data, LIB.ConvertiPrintable)[0])[1]
                self.assertEqual(quopri.decodestring(qp), data)
                plain = taken(on_text(binascii.b2a_qp(data, istext=False), LIB.DecifraPrintable)[0])[1]
                self.assertEqual(plain, data)


if __name__ == "__main__":
    unittest.main(verbosity=1)
