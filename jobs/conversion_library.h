#pragma once
// The conversion library libdravolin, loaded by name on first use; each of its functions is looked
// up by name the first time it is needed. Safe to use from the window's thread and a worker.

#include "dravolin.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// A text the library allocated and we now own, freed with the library's own LiberaTesto. Its size
// is the truth: NULs inside are data.
class LibraryText {
public:
    LibraryText() = default;
    LibraryText(char *text, std::size_t size, decltype(&::LiberaTesto) free)
        : m_text(text, Deleter { free })
        , m_size(size)
    {
    }

    char *data() const { return m_text.get(); }
    std::size_t size() const { return m_size; }
    // Keeps only the first size bytes as the content.
    void shrink(std::size_t size) { m_size = std::min(size, m_size); }

private:
    struct Deleter {
        decltype(&::LiberaTesto) free;
        void operator()(char *text) const { free(text); }
    };
    std::unique_ptr<char, Deleter> m_text;
    std::size_t m_size = 0;
};

// The four conversions, as a job names the one it needs.
enum class LibraryFunction { ConvertiMime64, DecifraMime64, ConvertiPrintable, DecifraPrintable };

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
    // The decoded bytes, or nothing when the text is not Mime64.
    std::optional<LibraryText> DecifraMime64(const LibraryText &text);
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
