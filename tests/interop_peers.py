#!/usr/bin/env python3
"""libdravolin.so against peers on this machine: python3's base64, binascii
and quopri modules and coreutils `base64`. What we write, they read back to
the same bytes; what they write, we read back to the same bytes.

Usage: interop_peers.py PATH/TO/libdravolin.so
"""

import ctypes
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import base64
    import binascii
    import quopri
except ImportError as missing:  # pragma: no cover - a broken python3
    sys.exit(f"python3 lacks a standard module the peers need: {missing}")

LIBRARY = None


def load(path):
    lib = ctypes.CDLL(path)
    lib.AllocaTesto.restype = ctypes.c_void_p
    lib.AllocaTesto.argtypes = [ctypes.c_char_p, ctypes.c_int32]
    lib.LunghezzaTesto.restype = ctypes.c_int32
    lib.LunghezzaTesto.argtypes = [ctypes.c_void_p]
    lib.LiberaTesto.restype = None
    lib.LiberaTesto.argtypes = [ctypes.c_void_p]
    lib.ConvertiMime64.restype = ctypes.c_void_p
    lib.ConvertiMime64.argtypes = [ctypes.c_char_p, ctypes.c_int32, ctypes.c_int32]
    lib.DecifraMime64.restype = ctypes.c_int32
    lib.DecifraMime64.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32]
    lib.ConvertiPrintable.restype = ctypes.c_void_p
    lib.ConvertiPrintable.argtypes = [ctypes.c_void_p]
    lib.DecifraPrintable.restype = ctypes.c_void_p
    lib.DecifraPrintable.argtypes = [ctypes.c_void_p]
    return lib


def take(testo):
    """The bytes of a library text, which is then freed."""
    if not testo:
        raise AssertionError("the library returned NULL")
    try:
        return ctypes.string_at(testo, LIBRARY.LunghezzaTesto(testo))
    finally:
        LIBRARY.LiberaTesto(testo)


def as_testo(data):
    testo = LIBRARY.AllocaTesto(data, len(data))
    if not testo:
        raise AssertionError("AllocaTesto returned NULL")
    return testo


def ours_mime64(data, opzione):
    return take(LIBRARY.ConvertiMime64(data, len(data), opzione))


def ours_unmime64(text):
    # The program's own call: a buffer as long as the text.
    testo = as_testo(text)
    try:
        buffer = ctypes.create_string_buffer(max(1, len(text)))
        count = LIBRARY.DecifraMime64(testo, buffer, len(text))
    finally:
        LIBRARY.LiberaTesto(testo)
    if count < 0:
        raise AssertionError(f"DecifraMime64 returned {count} for {text[:80]!r}")
    return buffer.raw[:count]


def ours_printable(data):
    testo = as_testo(data)
    try:
        return take(LIBRARY.ConvertiPrintable(testo))
    finally:
        LIBRARY.LiberaTesto(testo)


def ours_unprintable(text):
    testo = as_testo(text)
    try:
        return take(LIBRARY.DecifraPrintable(testo))
    finally:
        LIBRARY.LiberaTesto(testo)


def samples():
    """Byte strings of every kind, from fixed seeds."""
    rng = random.Random(20240601)
    out = [b"", bytes(range(256)), bytes(range(255, -1, -1)) * 3]
    out += [rng.randbytes(n) for n in list(range(0, 120)) + [255, 256, 1000, 57 * 40, 1 << 20]]
    return out


def texts():
    """Texts with every kind of line: LF, CR LF, lone CR, blanks, '=', NULs."""
    rng = random.Random(77)
    words = [b"il", b"gatto", b"=", b"caff\xc3\xa8", b"citt\xc3\xa0", b"\x00", b"\t", b"  ", b"perch\xc3\xa9", b"x" * 90]
    out = []
    for ending in (b"\n", b"\r\n"):
        for tail in (b"", b" ", b"\t", b"  \t", b"=", ending):
            lines = []
            for _ in range(40):
                lines.append(b" ".join(rng.choice(words) for _ in range(rng.randrange(0, 25))))
            out.append(ending.join(lines) + tail)
        out.append(b"a" * 500 + ending + b"b" * 77 + ending)
        out.append((b"fine riga " + b" " * 5 + ending) * 30)
    out.append(b"solo\rCR\rqui =\r")
    return out


def short_line_texts():
    rng = random.Random(78)
    words = [b"il", b"=", b"caff\xc3\xa8", b"\x00", b"\t", b"  ", b"\r", b"perch\xc3\xa9", b"\xff"]
    out = []
    for ending in (b"\n", b"\r\n"):
        for tail in (b"", b" ", b"\t", b"=", ending):
            lines = [b" ".join(rng.choice(words) for _ in range(rng.randrange(0, 6))) for _ in range(60)]
            out.append(ending.join(lines) + tail)
    return out


def mixed_texts():
    return [b"prima\r\nseconda\nterza\r\n" * 10, b"a\nb\r\nc " + b"z" * 200 + b"\r\n", b"\r\r\n\n\r"]


def one_line_ending_style(data):
    """True when every LF is preceded by CR, or none is."""
    lf = data.count(b"\n")
    crlf = data.count(b"\r\n")
    return crlf == 0 or crlf == lf


def run(args, data):
    """Runs a peer command with data on its standard input."""
    tool = shutil.which(args[0])
    if tool is None:
        raise AssertionError(f"peer tool {args[0]!r} is missing: install coreutils (test.sh does)")
    done = subprocess.run([tool] + args[1:], input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(args)} failed: {done.stderr.decode(errors='replace')}")
    return done.stdout


def python_pure_qp_decode(text):
    """quopri's own line-by-line decoder (used where binascii lacks a2b_qp)."""
    saved = quopri.a2b_qp
    quopri.a2b_qp = None
    try:
        return quopri.decodestring(text)
    finally:
        quopri.a2b_qp = saved


def python_pure_qp_encode(data):
    saved = quopri.b2a_qp
    quopri.b2a_qp = None
    try:
        return quopri.encodestring(data)
    finally:
        quopri.b2a_qp = saved


class Mime64Peers(unittest.TestCase):
    def test_python_reads_our_texts(self):
        for data in samples():
            for opzione in (0, 1):
                text = ours_mime64(data, opzione)
                with self.subTest(length=len(data), opzione=opzione):
                    # b64decode and decodebytes are a2b_base64 underneath.
                    self.assertEqual(binascii.a2b_base64(text), data)
                    if opzione == 0:
                        self.assertEqual(base64.b64decode(text, validate=True), data)

    def test_coreutils_reads_our_texts(self):
        for data in samples()[::7] + [samples()[-1]]:
            with self.subTest(length=len(data)):
                self.assertEqual(run(["base64", "-d", "-i"], ours_mime64(data, 1)), data)
                self.assertEqual(run(["base64", "-d"], ours_mime64(data, 0)), data)

    def test_we_read_python_texts(self):
        for data in samples():
            lf = base64.encodebytes(data)  # LF every 76 and at the end
            variants = {
                "LF": lf,
                "LF, no final newline": lf.rstrip(b"\n"),
                "CR LF": lf.replace(b"\n", b"\r\n"),
                "CR LF, no final newline": lf.rstrip(b"\n").replace(b"\n", b"\r\n"),
                "one line": base64.b64encode(data),
                "one line, CR LF": base64.b64encode(data) + b"\r\n",
            }
            for name, text in variants.items():
                with self.subTest(length=len(data), layout=name):
                    self.assertEqual(ours_unmime64(text), data)

    def test_we_read_coreutils_texts(self):
        for data in samples()[::5] + [samples()[-1]]:
            for args in (["base64"], ["base64", "-w", "0"], ["base64", "-w", "64"]):
                text = run(args, data)
                with self.subTest(length=len(data), command=" ".join(args)):
                    self.assertEqual(ours_unmime64(text), data)
                    self.assertEqual(ours_unmime64(text.replace(b"\n", b"\r\n")), data)


class PrintablePeers(unittest.TestCase):
    def test_python_reads_our_texts_byte_for_byte(self):
        for data in samples() + texts() + mixed_texts():
            text = ours_printable(data)
            with self.subTest(length=len(data), start=data[:20]):
                # quopri.decodestring is a2b_qp underneath.
                self.assertEqual(binascii.a2b_qp(text), data)

    def test_pure_python_decoder_reads_our_texts_up_to_line_ends(self):
        # quopri's line-by-line decoder writes every hard break as LF by design.
        for data in samples() + texts() + mixed_texts():
            text = ours_printable(data)
            with self.subTest(length=len(data), start=data[:20]):
                self.assertEqual(python_pure_qp_decode(text), data.replace(b"\r\n", b"\n"))

    def test_we_read_python_texts(self):
        for data in samples() + texts():
            encodings = {"b2a_qp binary": binascii.b2a_qp(data, istext=False)}
            # In text mode binascii rewrites a text's line breaks in the style
            # of its first one; with one style throughout nothing changes.
            if one_line_ending_style(data):
                encodings.update({
                    "b2a_qp": binascii.b2a_qp(data),
                    "b2a_qp quotetabs": binascii.b2a_qp(data, quotetabs=True),
                })
            for name, text in encodings.items():
                with self.subTest(length=len(data), encoder=name, start=data[:20]):
                    self.assertEqual(ours_unprintable(text), data)

    def test_we_read_pure_python_texts(self):
        # quopri's line-by-line encoder quotes the CR of a CR LF as =0D. It
        # cuts long lines blindly, even inside an =XX ("==\n00"), which no
        # decoder can read back: so lines short enough to need no cut.
        for data in short_line_texts():
            with self.subTest(length=len(data), start=data[:20]):
                self.assertEqual(ours_unprintable(python_pure_qp_encode(data)), data)

    def test_we_read_mixed_line_ends_from_python(self):
        # binascii writes every hard break in the style of the first one.
        for data in mixed_texts():
            first_lf = data.find(b"\n")
            crlf = first_lf > 0 and data[first_lf - 1:first_lf] == b"\r"
            plain = data.replace(b"\r\n", b"\n")
            expected = plain.replace(b"\n", b"\r\n") if crlf else plain
            with self.subTest(start=data[:20]):
                self.assertEqual(ours_unprintable(binascii.b2a_qp(data)), expected)


if __name__ == "__main__":
    if len(sys.argv) < 2 or not os.path.exists(sys.argv[1]):
        sys.exit("usage: interop_peers.py PATH/TO/libdravolin.so (library not found)")
    LIBRARY = load(sys.argv.pop(1))
    if shutil.which("base64") is None:
        sys.exit("coreutils `base64` is missing: install coreutils (test.sh does)")
    unittest.main(verbosity=1)
