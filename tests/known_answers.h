/* Known answers (RFC 4648, RFC 2045 and our own choices), in one table that
 * the codec tests and the Windows test program both read, as C or C++. */
#ifndef KNOWN_ANSWERS_H
#define KNOWN_ANSWERS_H

#include <stddef.h>

/* A literal's bytes, NULs included. The tables of answers hold pairs: an input, then its answer. */
struct KnownBytes {
    const char *bytes;
    size_t size;
};
// clang-format off
#define KNOWN(literal) { literal, sizeof(literal) - 1 }
// clang-format on

/* Bytes and their one-line Mime64, which also decodes when wrapped. */
static const struct KnownBytes kMime64Answers[]
    = { KNOWN(""),      KNOWN(""),         KNOWN("f"),      KNOWN("Zg=="),     KNOWN("fo"),
        KNOWN("Zm8="),  KNOWN("foo"),      KNOWN("Zm9v"),   KNOWN("foob"),     KNOWN("Zm9vYg=="),
        KNOWN("fooba"), KNOWN("Zm9vYmE="), KNOWN("foobar"), KNOWN("Zm9vYmFy"), KNOWN("\xfb\xff\xbf"),
        KNOWN("+/+/") };
/* Read leniently: blanks anywhere, a leading byte-order mark, padding missing or apart. */
static const struct KnownBytes kMime64Readings[]
    = { KNOWN(" \t\r\n"), KNOWN(""),    KNOWN("\xEF\xBB\xBF"), KNOWN(""),      KNOWN("Zg"),
        KNOWN("f"),       KNOWN("Zm8"), KNOWN("fo"),           KNOWN("Zg= ="), KNOWN("f"),
        KNOWN("Zm8 ="),   KNOWN("fo"),  KNOWN(" Z m\t9 v \r"), KNOWN("foo"),   KNOWN("\xEF\xBB\xBFZm9v\n"),
        KNOWN("foo") };
/* Malformed, which beats too small. */
static const struct KnownBytes kMime64Malformed[]
    = { KNOWN("Zm9v!"),    KNOWN("Zm-v"),    KNOWN("Zm9v\0"),       KNOWN("Zm9v\xc3\xa8"), KNOWN(" \xEF\xBB\xBFZm9v"),
        KNOWN("Zg==Zg=="), KNOWN("Zg=a"),    KNOWN("=Zg"),          KNOWN("QUJD="),        KNOWN("Zm8=="),
        KNOWN("Z"),        KNOWN("Zm9vY=="), KNOWN("Zm9v\r\nY\r\n") };
static const struct KnownBytes kPrintableAnswers[]
    = { KNOWN("Hi, you!~"),   KNOWN("Hi, you!~"),      KNOWN("a=b"),          KNOWN("a=3Db"),
        KNOWN("a\0\x7f\xff"), KNOWN("a=00=7F=FF"),     KNOWN("caff\xc3\xa8"), KNOWN("caff=C3=A8"),
        KNOWN("a b\tc"),      KNOWN("a b\tc"),         KNOWN("a  "),          KNOWN("a =20"),
        KNOWN("a \r\nb\t\n"), KNOWN("a=20\r\nb=09\n"), KNOWN("a\rb\r"),       KNOWN("a=0Db=0D"),
        KNOWN("\r\r\n\n\r"),  KNOWN("=0D\r\n\n=0D"),   KNOWN("a\r \r\n"),     KNOWN("a=0D=20\r\n") };
/* Printable texts and what they decode to; the last from RFC 2045, 6.7. */
static const struct KnownBytes kPrintableReadings[]
    = { KNOWN("=4a=3d"),     KNOWN("J="),    KNOWN("a=\r\nb=\nc"),     KNOWN("abc"),
        KNOWN("a= \t\r\nb"), KNOWN("ab"),    KNOWN("a =  \r\nb"),      KNOWN("a b"),
        KNOWN("a= \t"),      KNOWN("a"),     KNOWN("a=G1=4"),          KNOWN("a=G1=4"),
        KNOWN("==41"),       KNOWN("=A"),    KNOWN("a= b\r\n"),        KNOWN("a= b\r\n"),
        KNOWN("a=\rb"),      KNOWN("a=\rb"), KNOWN("a \t\r\nb  "),     KNOWN("a\r\nb"),
        KNOWN("a \rb"),      KNOWN("a \rb"), KNOWN("to come=\r\n to"), KNOWN("to come to") };

#endif /* KNOWN_ANSWERS_H */
