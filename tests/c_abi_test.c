/* The ABI as C callers get it, the header compiled as C11. On Windows, as the DLL's callers do, it binds the exports
 * by name, makes texts with SysAllocStringByteLen, and grows each result with SysReAllocStringLen before freeing it
 * with SysFreeString; one call goes through the import library. */

#include "dravolin.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static _Atomic int failed;
#define CHECK(what, condition) ((condition) ? (void)0 : (void)(fprintf(stderr, "FAILED: %s\n", what), ++failed))
#define COUNT(array) (sizeof(array) / sizeof *(array))

struct Bytes {
    const char *bytes;
    size_t size;
};
// clang-format off
#define K(literal) { literal, sizeof(literal) - 1 }
#define B(literal) ((struct Bytes)K(literal))
// clang-format on
#define BYTES_OF(text) ((struct Bytes) { text, (size_t)lib.LunghezzaTesto(text) })

#define EXPORTS(X)                                                                                                     \
    X(AllocaTesto)                                                                                                     \
    X(LunghezzaTesto) X(LiberaTesto) X(ConvertiMime64) X(DecifraMime64) X(ConvertiPrintable) X(DecifraPrintable)
#define DECLARE(name) __typeof__(&name) name;
static struct {
    EXPORTS(DECLARE)
} lib;
#ifdef _WIN32
#include <windows.h>

#include <oleauto.h>
#define BIND(name)                                                                                                     \
    &&(lib.name = (__typeof__(lib.name))(void (*)(void))GetProcAddress(LoadLibraryA("Dravolin.dll"), #name))
#define MADE(b) ((Testo)SysAllocStringByteLen((b).bytes, (UINT)(b).size))
#define UNMADE(text) SysFreeString((BSTR)(text))
#else
#define BIND(name) &&(lib.name = name)
#define MADE(b) lib.AllocaTesto((b).bytes, (int32_t)(b).size)
#define UNMADE(text) lib.LiberaTesto(text)
#endif

/* Known answers (RFC 4648, RFC 2045 and our own choices), each a pair: the input, then what it gives. Bytes and their
 * one-line Mime64, which also decodes wrapped; texts read leniently; malformed texts; Printable both ways, the last
 * reading from RFC 2045, 6.7. */
static const struct Bytes kMime64[]
    = { K(""),     K(""),         K("f"),     K("Zg=="),     K("fo"),     K("Zm8="),     K("foo"),          K("Zm9v"),
        K("foob"), K("Zm9vYg=="), K("fooba"), K("Zm9vYmE="), K("foobar"), K("Zm9vYmFy"), K("\xfb\xff\xbf"), K("+/+/") };
static const struct Bytes kMime64Readings[]
    = { K(" \t\r\n"), K(""),    K("\xEF\xBB\xBF"), K(""),      K("Zg"),
        K("f"),       K("Zm8"), K("fo"),           K("Zg= ="), K("f"),
        K("Zm8 ="),   K("fo"),  K(" Z m\t9 v \r"), K("foo"),   K("\xEF\xBB\xBFZm9v\n"),
        K("foo") };
static const struct Bytes kMime64Malformed[]
    = { K("Zm9v!"),    K("Zm-v"),    K("Zm9v\0"),       K("Zm9v\xc3\xa8"), K(" \xEF\xBB\xBFZm9v"),
        K("Zg==Zg=="), K("Zg=a"),    K("=Zg"),          K("QUJD="),        K("Zm8=="),
        K("Z"),        K("Zm9vY=="), K("Zm9v\r\nY\r\n") };
static const struct Bytes kPrintable[]
    = { K("Hi, you!~"),  K("Hi, you!~"),    K("a=b"),          K("a=3Db"),          K("a\0\x7f\xff"),
        K("a=00=7F=FF"), K("caff\xc3\xa8"), K("caff=C3=A8"),   K("a b\tc"),         K("a b\tc"),
        K("a  "),        K("a =20"),        K("a \r\nb\t\n"),  K("a=20\r\nb=09\n"), K("a\rb\r"),
        K("a=0Db=0D"),   K("\r\r\n\n\r"),   K("=0D\r\n\n=0D"), K("a\r \r\n"),       K("a=0D=20\r\n") };
static const struct Bytes kPrintableReadings[]
    = { K("=4a=3d"),      K("J="),     K("a=\r\nb=\nc"), K("abc"),      K("a= \t\r\nb"),      K("ab"),
        K("a =  \r\nb"),  K("a b"),    K("a= \t"),       K("a"),        K("a=G1=4"),          K("a=G1=4"),
        K("==41"),        K("=A"),     K("a= b\r\n"),    K("a= b\r\n"), K("a=\rb"),           K("a=\rb"),
        K("a \t\r\nb  "), K("a\r\nb"), K("a \rb"),       K("a \rb"),    K("to come=\r\n to"), K("to come to") };

/* Frees a result, on Windows once grown the OLE way. */
static int released(Testo text)
{
#ifdef _WIN32
    BSTR string = (BSTR)text;
    const int grown = SysReAllocStringLen(&string, NULL, SysStringByteLen(string) / 2 + 9);
    return SysFreeString(string), grown;
#else
    return lib.LiberaTesto(text), 1;
#endif
}

/* The result holds exactly these bytes, its length in the 4 bytes before them and a NUL after them; then freed. */
static int holds(Testo text, struct Bytes bytes)
{
    int32_t prefix = -1;
    if (text)
        memcpy(&prefix, text - 4, sizeof prefix);
    return text && lib.LunghezzaTesto(text) == (int32_t)bytes.size && prefix == (int32_t)bytes.size
        && text[bytes.size] == '\0' && memcmp(text, bytes.bytes, bytes.size) == 0 && released(text);
}

static Testo through(Testo(DRAVOLIN_CALL *function)(const Testo), struct Bytes bytes)
{
    Testo in = MADE(bytes), result = function(in);
    return UNMADE(in), result;
}

/* The count decoded into buffer, -3 for one that is not these bytes. */
static int32_t decoded(struct Bytes text, uint8_t *buffer, int32_t capacity, struct Bytes bytes)
{
    Testo in = MADE(text);
    const int32_t count = lib.DecifraMime64(in, buffer, capacity);
    UNMADE(in);
    return count >= 0 && (count != (int32_t)bytes.size || memcmp(buffer, bytes.bytes, bytes.size) != 0) ? -3 : count;
}

static void knownAnswers(void)
{
    uint8_t buffer[16];
    char line[16];
    for (size_t i = 0; i < COUNT(kMime64); i += 2) {
        const struct Bytes bytes = kMime64[i], text = kMime64[i + 1], wrapped = { line, text.size ? text.size + 2 : 0 };
        memcpy(line, text.bytes, text.size), memcpy(line + text.size, "\r\n", 2);
        CHECK(text.bytes,
              holds(lib.ConvertiMime64((const uint8_t *)bytes.bytes, (int32_t)bytes.size, 0), text)
                  && holds(lib.ConvertiMime64((const uint8_t *)bytes.bytes, (int32_t)bytes.size, 1), wrapped)
                  && decoded(wrapped, buffer, (int32_t)bytes.size, bytes) == (int32_t)bytes.size);
    }
    for (size_t i = 0; i < COUNT(kMime64Readings); i += 2)
        CHECK(kMime64Readings[i].bytes, decoded(kMime64Readings[i], buffer, 16, kMime64Readings[i + 1]) >= 0);
    for (size_t i = 0; i < COUNT(kMime64Malformed); ++i)
        CHECK(kMime64Malformed[i].bytes, decoded(kMime64Malformed[i], buffer, 0, kMime64Malformed[i]) == -1);
    for (size_t i = 0; i < COUNT(kPrintable); i += 2)
        CHECK(kPrintable[i + 1].bytes, holds(through(lib.ConvertiPrintable, kPrintable[i]), kPrintable[i + 1]));
    for (size_t i = 0; i < COUNT(kPrintableReadings); i += 2)
        CHECK(kPrintableReadings[i].bytes,
              holds(through(lib.DecifraPrintable, kPrintableReadings[i]), kPrintableReadings[i + 1]));
}

/* Random bytes through each codec and back. */
static void roundTrip(size_t size, uint64_t state)
{
    const struct Bytes bytes = { malloc(size), size };
    for (size_t i = 0; i < size; ++i)
        state ^= state << 13, state ^= state >> 7, state ^= state << 17, ((char *)bytes.bytes)[i] = (char)(state >> 32);
    Testo mime64 = lib.ConvertiMime64((const uint8_t *)bytes.bytes, (int32_t)size, 1), printable;
    uint8_t *back = malloc(size);
    CHECK("through Mime64", decoded(BYTES_OF(mime64), back, (int32_t)size, bytes) > 0 && released(mime64));
    printable = through(lib.ConvertiPrintable, bytes);
    CHECK("through Printable", holds(through(lib.DecifraPrintable, BYTES_OF(printable)), bytes) && released(printable));
    free(back), free((void *)bytes.bytes);
}

/* Eight threads at once, each giving known answers and taking its own bytes there and back. */
static void *threadMain(void *seed)
{
    knownAnswers(), roundTrip(3000000 + 4099 * (size_t)seed, (uint64_t)(size_t)seed);
    return NULL;
}

int main(void)
{
    const struct Bytes empty = B("");
    uint8_t buffer[8] = { 0 };
    pthread_t threads[8];
    if (!(1 EXPORTS(BIND)))
        return fputs("FAILED: no Dravolin.dll or not its seven exports\n", stderr), 1;
    /* Straight to the export, through the import library on Windows. */
    CHECK("ConvertiMime64 called directly", holds(ConvertiMime64((const uint8_t *)"foobar", 6, 1), B("Zm9vYmFy\r\n")));
    /* Callers pass NULL for an empty string; the rest fails as the header says: an option but 0 or 1, bytes missing,
     * more than INT32_MAX characters (1569314970 bytes fill 2147483644), a negative capacity. */
    CHECK("NULL and empty texts",
          holds(lib.ConvertiPrintable(NULL), empty) && holds(lib.DecifraPrintable(NULL), empty)
              && holds(lib.ConvertiMime64(NULL, 0, 1), empty) && lib.LunghezzaTesto(NULL) == 0
              && lib.DecifraMime64(NULL, buffer, 4) == 0 && holds(through(lib.ConvertiPrintable, empty), empty)
              && holds(through(lib.DecifraPrintable, empty), empty));
    lib.LiberaTesto(NULL);
    CHECK("AllocaTesto", holds(lib.AllocaTesto(NULL, 2), B("  ")) && !lib.AllocaTesto("a", -1));
    CHECK("-1 malformed, beating -2 too small",
          decoded(B("Zm9vYmFy!"), NULL, -1, empty) == -1 && decoded(B("Zm9vYmFy"), buffer, 5, empty) == -2
              && decoded(empty, NULL, -1, empty) == -2);
    CHECK("ConvertiMime64's refusals",
          !lib.ConvertiMime64(buffer, 3, 2) && !lib.ConvertiMime64(buffer, 3, -1) && !lib.ConvertiMime64(NULL, 1, 1)
              && !lib.ConvertiMime64(buffer, 1569314971, 1));
    roundTrip(100000000, 1);
    for (size_t i = 0; i < 8; ++i)
        pthread_create(&threads[i], NULL, threadMain, (void *)(i + 2));
    for (size_t i = 0; i < 8; ++i)
        pthread_join(threads[i], NULL);
    printf("c_abi_test: %d failed\n", failed);
    return failed != 0;
}
