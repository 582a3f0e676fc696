#pragma once
// The conversion library libdravolin, loaded by name on first use; each of its
// functions is looked up by name the first time it is needed.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using LiberaTestoFunction = void (*)(char *);

// Frees a library text with the library's own LiberaTesto.
struct LibraryTextDeleter {
    LiberaTestoFunction free = nullptr;
    void operator()(char *text) const
    {
        if (text != nullptr && free != nullptr)
            free(text);
    }
};

// A text the library allocated and we now own. The length prefix is the
// truth: NULs inside are data.
class LibraryText {
public:
    LibraryText() = default;
    LibraryText(char *text, std::size_t size, LiberaTestoFunction free)
        : m_text(text, LibraryTextDeleter { free })
        , m_size(size)
    {
    }

    char *data() const { return m_text.get(); }
    std::size_t size() const { return m_size; }
    void reset()
    {
        m_text.reset();
        m_size = 0;
    }

private:
    std::unique_ptr<char, LibraryTextDeleter> m_text;
    std::size_t m_size = 0;
};

class ConversionLibrary {
public:
    // Searches the program's folder (libdravolin.so), then ../lib and
    // ../lib/x86_64-linux-gnu beside it, then the system's path (libdravolin.so.1).
    ConversionLibrary();
    // Exactly this file, nothing else.
    explicit ConversionLibrary(const QString &libraryPath);
    ~ConversionLibrary();
    ConversionLibrary(const ConversionLibrary &) = delete;
    ConversionLibrary &operator=(const ConversionLibrary &) = delete;

    // Each throws JobError when the library or the function cannot be found,
    // and a text function also when the library returns NULL.

    // A text of length blanks to fill in place (bytes == nullptr), or a copy of bytes.
    LibraryText AllocaTesto(const char *bytes, std::size_t length);
    // The Mime64 form in lines of 76 characters (option 1).
    LibraryText ConvertiMime64(const std::uint8_t *bytes, std::size_t count);
    // Bytes written into buffer, or the library's negative verdict.
    std::int32_t DecifraMime64(const LibraryText &text, std::uint8_t *buffer, std::size_t capacity);
    LibraryText ConvertiPrintable(const LibraryText &text);
    LibraryText DecifraPrintable(const LibraryText &text);

private:
    void *handle();
    // Loads path, or throws the failure naming it.
    void *open(const std::string &path);
    void *function(const char *name, void *&cache);
    void resolveTextHelpers();
    LibraryText wrap(char *text, const char *producer);

    std::string m_explicitPath;
    std::string m_loadedPath;
    void *m_handle = nullptr;
    void *m_allocaTesto = nullptr;
    void *m_lunghezzaTesto = nullptr;
    void *m_liberaTesto = nullptr;
    void *m_convertiMime64 = nullptr;
    void *m_decifraMime64 = nullptr;
    void *m_convertiPrintable = nullptr;
    void *m_decifraPrintable = nullptr;
};
