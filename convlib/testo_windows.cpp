// The library's text on Windows is a BSTR holding bytes: its length prefix
// counts bytes, two NULs follow them, and the OLE string functions make it,
// so that a caller may read it with SysStringByteLen, grow it with
// SysReAllocStringLen and free it with SysFreeString, and hand us a string it
// made with SysAllocStringByteLen.

#include "testo.h"

#include <windows.h>

#include <oleauto.h>

#include <climits>
#include <cstring>

namespace dravolin {

char *allocateText(std::size_t capacity, std::size_t)
{
    // SysAllocStringByteLen takes a UINT and adds its prefix and NULs to it.
    if (capacity > UINT_MAX - 8)
        return nullptr;
    return reinterpret_cast<char *>(SysAllocStringByteLen(nullptr, static_cast<UINT>(capacity)));
}

char *finishText(char *text, std::size_t length)
{
    auto string = reinterpret_cast<BSTR>(text);
    if (length < SysStringByteLen(string)) {
        // Shrunk in its own block: with the string as its own source nothing
        // is copied. The block counts wide characters; the prefix then says
        // the exact bytes, as SysAllocStringByteLen writes an odd length.
        const auto characters = static_cast<UINT>((length + 1) / 2);
        if (SysReAllocStringLen(&string, string, characters))
            text = reinterpret_cast<char *>(string);
        const auto bytes = static_cast<std::uint32_t>(length);
        std::memcpy(text - sizeof bytes, &bytes, sizeof bytes);
    }
    text[length] = '\0';
    text[length + 1] = '\0';
    return text;
}

void freeText(char *text)
{
    SysFreeString(reinterpret_cast<BSTR>(text));
}

std::int32_t textLength(const char *text)
{
    const UINT bytes = SysStringByteLen(reinterpret_cast<BSTR>(const_cast<char *>(text)));
    return bytes <= INT32_MAX ? static_cast<std::int32_t>(bytes) : -1;
}

} // namespace dravolin
