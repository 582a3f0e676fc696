/* The public header compiled as C11, and the ABI called from C. */

#include "dravolin.h"

#include <stdio.h>
#include <string.h>

static int failed;
#define CHECK(what, condition) ((condition) ? (void)0 : (void)(++failed, fprintf(stderr, "FAILED: %s\n", what)))

/* A text holds exactly these bytes, with its length before and a NUL after. */
static void expectText(Testo testo, const char *bytes, int32_t length, const char *what)
{
    int32_t prefix = -1;
    if (testo)
        memcpy(&prefix, testo - 4, sizeof prefix);
    CHECK(what,
          testo && LunghezzaTesto(testo) == length && prefix == length && testo[length] == '\0'
              && memcmp(testo, bytes, (size_t)length) == 0);
    LiberaTesto(testo);
}

int main(void)
{
    static const uint8_t foobar[] = { 'f', 'o', 'o', 'b', 'a', 'r' };
    uint8_t buffer[8] = { 0 };
    Testo text = ConvertiMime64(foobar, 6, 1);
    CHECK("DecifraMime64", DecifraMime64(text, buffer, 6) == 6 && memcmp(buffer, foobar, 6) == 0);
    expectText(text, "Zm9vYmFy\r\n", 10, "ConvertiMime64");
    text = AllocaTesto("1+1=2 \t\r\nfin\xc3\xa8 \n", 16);
    Testo printable = ConvertiPrintable(text);
    expectText(DecifraPrintable(printable), "1+1=2 \t\r\nfin\xc3\xa8 \n", 16, "DecifraPrintable");
    expectText(printable, "1+1=3D2 =09\r\nfin=C3=A8=20\n", 26, "ConvertiPrintable");
    LiberaTesto(text);
    expectText(AllocaTesto(NULL, 3), "   ", 3, "AllocaTesto blanks");
    printf("c_abi_test: %d failed\n", failed);
    return failed != 0;
}
