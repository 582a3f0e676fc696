/* dravolin: MIME base64 ("Mime64") and quoted-printable ("Printable")
 * conversions behind a plain C ABI. */
#ifndef DRAVOLIN_H
#define DRAVOLIN_H

#include <stdint.h>

/* DRAVOLIN_API marks an export, DRAVOLIN_CALL its calling convention. Windows
 * callers bind Dravolin.dll with the platform's standard one, __stdcall (x64
 * has only one); Dravolin.def exports the functions under their plain names. */
#if defined(_WIN32)
#define DRAVOLIN_CALL __stdcall
#if defined(DRAVOLIN_BUILDING)
#define DRAVOLIN_API
#else
#define DRAVOLIN_API __declspec(dllimport)
#endif
#else
#define DRAVOLIN_CALL
#if defined(DRAVOLIN_BUILDING)
#define DRAVOLIN_API __attribute__((visibility("default")))
#else
#define DRAVOLIN_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A text: points at its first byte; its int32_t length sits in the 4 bytes
 * just before it and a NUL follows its last byte. The library allocates it;
 * the caller frees it with LiberaTesto. A NULL argument is the empty text.
 * Texts may hold any bytes, NULs included: the length is the truth.
 * No function lets an exception out to its caller: whatever fails inside
 * the library answers as running out of memory does (NULL, or -2 from
 * DecifraMime64).
 * On Windows a text is a BSTR holding bytes, made by the OLE string functions:
 * SysStringByteLen gives its length, SysFreeString frees it as LiberaTesto
 * does, SysReAllocStringLen grows it, and a string the caller made with
 * SysAllocStringByteLen is a text. */
typedef char *Testo;

/* A copy of lunghezza bytes; with byte NULL, a text of lunghezza blanks for
 * the caller to fill in place. NULL if lunghezza < 0 or out of memory. */
DRAVOLIN_API Testo DRAVOLIN_CALL AllocaTesto(const char *byte, int32_t lunghezza);
/* Length in bytes, 0 for NULL. */
DRAVOLIN_API int32_t DRAVOLIN_CALL LunghezzaTesto(const Testo testo);
/* Frees a text of this library; NULL is fine. */
DRAVOLIN_API void DRAVOLIN_CALL LiberaTesto(Testo testo);

/* Base64 of conteggio bytes. opzione 1: lines of 76 characters, each ending
 * CR LF (the last one too); opzione 0: one line, no line break. NULL for any
 * other opzione, conteggio < 0, byte NULL with conteggio > 0, out of memory,
 * or a result longer than INT32_MAX. Empty input gives the empty text. */
DRAVOLIN_API Testo DRAVOLIN_CALL ConvertiMime64(const uint8_t *byte, int32_t conteggio, int32_t opzione);

/* Decodes base64 text into buffer. Space, tab, CR and LF are skipped, and so
 * is a leading UTF-8 byte-order mark; the final padding may be missing.
 * Returns the number of bytes written, -1 if the text is malformed (this wins
 * over -2), -2 if the bytes would not fit in capacita or the library
 * fails inside. Never writes past capacita. */
DRAVOLIN_API int32_t DRAVOLIN_CALL DecifraMime64(const Testo testo, uint8_t *buffer, int32_t capacita);

/* Quoted-printable of any bytes; lines of at most 76 characters, hard line
 * breaks (CR LF or LF) kept, soft breaks in the text's own line ending.
 * NULL on out of memory or a result longer than INT32_MAX. */
DRAVOLIN_API Testo DRAVOLIN_CALL ConvertiPrintable(const Testo testo);

/* Decodes quoted-printable; lenient with what it cannot read (a stray '='
 * stands as itself). DecifraPrintable(ConvertiPrintable(x)) == x for every x.
 * NULL on out of memory. */
DRAVOLIN_API Testo DRAVOLIN_CALL DecifraPrintable(const Testo testo);

#ifdef __cplusplus
}
#endif

#endif /* DRAVOLIN_H */
