/* The public header compiled as C11, and the ABI called from C. */

#include "dravolin.h"

#include <stdio.h>
#include <string.h>

static int passed;
static int failed;

static void check(int ok, const char *what)
{
    if (ok) {
        ++passed;
    } else {
        ++failed;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

/* A text holds exactly these bytes, with its length before and a NUL after. */
static int textIs(const Testo testo, const char *bytes, int32_t length)
{
    int32_t prefix;
    if (!testo || LunghezzaTesto(testo) != length)
        return 0;
    memcpy(&prefix, testo - 4, sizeof prefix);
    return prefix == length && testo[length] == '\0' && memcmp(testo, bytes, (size_t)length) == 0;
}

int main(void)
{
    static const uint8_t foobar[] = { 'f', 'o', 'o', 'b', 'a', 'r' };
    uint8_t buffer[8];
    Testo text;
    Testo back;

    text = ConvertiMime64(foobar, 6, 0);
    check(textIs(text, "Zm9vYmFy", 8), "ConvertiMime64 one line");
    check(DecifraMime64(text, buffer, 8) == 6 && memcmp(buffer, foobar, 6) == 0, "DecifraMime64 back");
    LiberaTesto(text);

    text = AllocaTesto("1+1=2 \t\r\nfin\xc3\xa8 \n", 16);
    back = ConvertiPrintable(text);
    check(textIs(back, "1+1=3D2 =09\r\nfin=C3=A8=20\n", 26), "ConvertiPrintable");
    LiberaTesto(text);
    text = DecifraPrintable(back);
    check(textIs(text, "1+1=2 \t\r\nfin\xc3\xa8 \n", 16), "DecifraPrintable back");
    LiberaTesto(text);
    LiberaTesto(back);

    text = AllocaTesto(NULL, 3);
    check(textIs(text, "   ", 3), "AllocaTesto blanks");
    LiberaTesto(text);
    LiberaTesto(NULL);

    printf("c_abi_test: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
