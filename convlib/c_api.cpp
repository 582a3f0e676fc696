// The C ABI: checks every argument and narrowing, then hands the work to the
// kernels chosen for this machine. Nothing is thrown below, but a C caller
// must never see an exception: each function catches everything and answers
// as for a failed allocation.

#include "codec.h"
#include "dravolin.h"
#include "testo.h"

#include <cstring>

using namespace dravolin;

namespace {

const char *bytesOf(const Testo testo)
{
    return testo ? testo : "";
}

std::size_t lengthOf(const Testo testo)
{
    // A negative prefix cannot come from us: read nothing rather than 2^64 bytes.
    const std::int32_t length = textLength(testo);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

} // namespace

extern "C" {

Testo DRAVOLIN_CALL AllocaTesto(const char *byte, int32_t lunghezza)
{
    try {
        if (lunghezza < 0)
            return nullptr;
        const auto length = static_cast<std::size_t>(lunghezza);
        char *text = allocateText(length);
        if (!text)
            return nullptr;
        if (byte)
            std::memcpy(text, byte, length);
        else
            std::memset(text, ' ', length);
        return finishText(text, length);
    } catch (...) {
        return nullptr;
    }
}

int32_t DRAVOLIN_CALL LunghezzaTesto(const Testo testo)
{
    return textLength(testo);
}

void DRAVOLIN_CALL LiberaTesto(Testo testo)
{
    try {
        freeText(testo); // keeping a freed room takes a lock
    } catch (...) {
    }
}

Testo DRAVOLIN_CALL ConvertiMime64(const uint8_t *byte, int32_t conteggio, int32_t opzione)
{
    try {
        if ((opzione != 0 && opzione != 1) || conteggio < 0 || (!byte && conteggio > 0))
            return nullptr;
        const auto layout = opzione == 1 ? Mime64Layout::Wrapped : Mime64Layout::SingleLine;
        const auto count = static_cast<std::size_t>(conteggio);
        const std::size_t size = mime64EncodedSize(count, layout);
        char *text = size <= kMaxTextLength ? allocateText(size) : nullptr;
        if (!text)
            return nullptr;
        if (count > 0)
            activeCodec().mime64Encode(byte, count, text, layout);
        return finishText(text, size);
    } catch (...) {
        return nullptr;
    }
}

int32_t DRAVOLIN_CALL DecifraMime64(const Testo testo, uint8_t *buffer, int32_t capacita)
{
    try {
        const std::size_t capacity = buffer && capacita > 0 ? static_cast<std::size_t>(capacita) : 0;
        const std::int64_t result = activeCodec().mime64Decode(bytesOf(testo), lengthOf(testo), buffer, capacity);
        if (result == kMalformed)
            return -1;
        if (result == kTooSmall || capacita < 0)
            return -2;
        return static_cast<int32_t>(result);
    } catch (...) {
        return -2;
    }
}

Testo DRAVOLIN_CALL ConvertiPrintable(const Testo testo)
{
    try {
        const std::size_t length = lengthOf(testo);
        // The bound may pass the limit while the text itself stays within it:
        // only the written length decides. Text, as it is mostly, grows by a
        // few escapes and soft breaks.
        char *text = allocateText(printableEncodedBound(length), length + length / 8);
        if (!text)
            return nullptr;
        const std::size_t written = activeCodec().printableEncode(bytesOf(testo), length, text);
        if (written > kMaxTextLength) {
            freeText(text);
            return nullptr;
        }
        return finishText(text, written);
    } catch (...) {
        return nullptr;
    }
}

Testo DRAVOLIN_CALL DecifraPrintable(const Testo testo)
{
    try {
        const std::size_t length = lengthOf(testo);
        char *text = allocateText(length);
        if (!text)
            return nullptr;
        const std::size_t written = activeCodec().printableDecode(bytesOf(testo), length, text);
        return finishText(text, written);
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"
