#pragma once
// The conversion library libdravolin, loaded by name on first use; each of its functions is looked
// up by name the first time it is needed. Safe to use from the window's thread and a worker.

#include "dravolin.h"
#include "library_function.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// Bytes a job holds, freed as they were made: by the library, or unmapped. Their size is the
// truth: NULs inside are data.
class Bytes {
public:
    Bytes() = default;
    Bytes(char *data, std::size_t size, std::function<void(char *)> release)
        : m_data(data, std::move(release))
        , m_size(size)
    {
    }
    // size fresh bytes of our own, in huge pages where the system has them; throws JobError
    // (ENOMEM) when the memory is not there.
    static Bytes fresh(std::size_t size);

    char *data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }

private:
    std::unique_ptr<char, std::function<void(char *)>> m_data;
    std::size_t m_size = 0;
};

// A text the library allocated: the only kind its text functions take.
class LibraryText : public Bytes {
public:
    LibraryText() = default;

private:
    friend class ConversionLibrary;
    LibraryText(char *text, std::size_t size, decltype(&::LiberaTesto) free)
        : Bytes(text, size, free)
    {
    }
};

class ConversionLibrary {
public:
    // Searches the program's folder (libdravolin.so), then ../lib and ../lib/x86_64-linux-gnu beside
    // it, then the system's path (libdravolin.so.1).
    ConversionLibrary();
    // Exactly this file, nothing else.
    explicit ConversionLibrary(const QString &libraryPath);
    ~ConversionLibrary();
    ConversionLibrary(const ConversionLibrary &) = delete;
    ConversionLibrary &operator=(const ConversionLibrary &) = delete;

    // Each throws JobError when the library or the function cannot be found, and when the library
    // runs out of memory.

    // Looks function up now, before a job reads its input, so that a missing one is told first.
    void require(LibraryFunction function);
    // A copy of length bytes, or length blanks to fill in place when bytes is null.
    LibraryText AllocaTesto(const char *bytes, std::size_t length);
    // The Mime64 form in lines of 76 characters.
    LibraryText ConvertiMime64(const char *bytes, std::size_t count);
    // Decodes into[0, capacity), which must hold text.size() bytes: the count decoded, or nothing
    // when the text is not Mime64.
    std::optional<std::size_t> DecifraMime64(const LibraryText &text, char *into, std::size_t capacity);
    LibraryText ConvertiPrintable(const LibraryText &text);
    LibraryText DecifraPrintable(const LibraryText &text);

private:
    struct Functions {
        decltype(&::AllocaTesto) allocaTesto = nullptr;
        decltype(&::LunghezzaTesto) lunghezzaTesto = nullptr;
        decltype(&::LiberaTesto) liberaTesto = nullptr;
        decltype(&::ConvertiMime64) convertiMime64 = nullptr;
        decltype(&::DecifraMime64) decifraMime64 = nullptr;
        decltype(&::ConvertiPrintable) convertiPrintable = nullptr;
        decltype(&::DecifraPrintable) decifraPrintable = nullptr;
    };

    // The function in slot, looked up as name first; with LunghezzaTesto and LiberaTesto, so that
    // every text a function makes can be measured and freed.
    template <typename Function> Function resolve(Function Functions::*slot, const char *name);
    void *handle();
    void *symbol(const char *name);
    LibraryText own(char *text, const char *producer);

    std::mutex m_mutex;
    std::string m_explicitPath;
    std::string m_loadedPath;
    void *m_handle = nullptr;
    Functions m_functions;
};
