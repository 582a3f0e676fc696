#include "conversion_library.h"

#include "job_errors.h"
#include "os_files.h"
#include "program_shared.h"

#include <QFile>

#include <cerrno>
#include <climits>

#include <dlfcn.h>
#include <unistd.h>

namespace {

constexpr const char *kBuildName = "libdravolin.so";
constexpr const char *kSoname = "libdravolin.so.1";

std::int32_t checkedCount(std::size_t count)
{
    if (count > static_cast<std::size_t>(INT32_MAX))
        throw jobFailure(JobFailure::TypedTextTooLarge);
    return static_cast<std::int32_t>(count);
}

} // namespace

Bytes Bytes::fresh(std::size_t size)
{
    const std::size_t mapped
        = (std::max<std::size_t>(size, 1) + dravolin::kHugePage - 1) / dravolin::kHugePage * dravolin::kHugePage;
    auto *memory = static_cast<char *>(dravolin::mapHugePages(mapped));
    if (memory == nullptr)
        throw osFailure(ENOMEM);
    return Bytes(memory, size, [mapped](char *bytes) { dravolin::unmapHugePages(bytes, mapped); });
}

ConversionLibrary::ConversionLibrary() = default;

ConversionLibrary::ConversionLibrary(const QString &libraryPath)
    : m_explicitPath(QFile::encodeName(libraryPath).toStdString())
{
}

ConversionLibrary::~ConversionLibrary()
{
    if (m_handle != nullptr)
        ::dlclose(m_handle);
}

void *ConversionLibrary::handle()
{
    if (m_handle != nullptr)
        return m_handle;
    std::string path = m_explicitPath.empty() ? kSoname : m_explicitPath;
    if (const std::string folder = ownFolder(); m_explicitPath.empty() && !folder.empty()) {
        // A library that is there but cannot load is the one to tell about.
        for (const std::string &candidate : { folder + "/" + kBuildName, folder + "/../lib/" + kSoname,
                                              folder + "/../lib/x86_64-linux-gnu/" + kSoname }) {
            if (::access(candidate.c_str(), F_OK) == 0) {
                path = candidate;
                break;
            }
        }
    }
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char *why = ::dlerror();
        throw jobFailure(JobFailure::LibraryMissing, QFile::decodeName(path.c_str()),
                         QString::fromLocal8Bit(why != nullptr ? why : ""));
    }
    m_loadedPath = path;
    return m_handle;
}

void *ConversionLibrary::symbol(const char *name)
{
    void *library = handle();
    if (void *found = ::dlsym(library, name))
        return found;
    throw jobFailure(JobFailure::FunctionMissing, QString::fromLatin1(name), QFile::decodeName(m_loadedPath.c_str()));
}

template <typename Function> Function ConversionLibrary::resolve(Function Functions::*slot, const char *name)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_functions.*slot == nullptr) {
        auto *function = reinterpret_cast<Function>(symbol(name));
        if (m_functions.liberaTesto == nullptr)
            m_functions.liberaTesto = reinterpret_cast<decltype(&::LiberaTesto)>(symbol("LiberaTesto"));
        if (m_functions.lunghezzaTesto == nullptr)
            m_functions.lunghezzaTesto = reinterpret_cast<decltype(&::LunghezzaTesto)>(symbol("LunghezzaTesto"));
        m_functions.*slot = function;
    }
    return m_functions.*slot;
}

LibraryText ConversionLibrary::own(char *text, const char *producer)
{
    if (text == nullptr)
        throw jobFailure(JobFailure::NoResult, QString::fromLatin1(producer));
    const std::int32_t length = m_functions.lunghezzaTesto(text);
    LibraryText owned(text, length < 0 ? 0 : static_cast<std::size_t>(length), m_functions.liberaTesto);
    if (length < 0)
        throw jobFailure(JobFailure::NoResult, QString::fromLatin1(producer));
    return owned;
}

void ConversionLibrary::require(LibraryFunction function)
{
    switch (function) {
    case LibraryFunction::ConvertiMime64:
        resolve(&Functions::convertiMime64, "ConvertiMime64");
        break;
    case LibraryFunction::DecifraMime64:
        resolve(&Functions::decifraMime64, "DecifraMime64");
        break;
    case LibraryFunction::ConvertiPrintable:
        resolve(&Functions::convertiPrintable, "ConvertiPrintable");
        break;
    case LibraryFunction::DecifraPrintable:
        resolve(&Functions::decifraPrintable, "DecifraPrintable");
        break;
    }
}

LibraryText ConversionLibrary::AllocaTesto(const char *bytes, std::size_t length)
{
    const auto allocate = resolve(&Functions::allocaTesto, "AllocaTesto");
    return own(allocate(bytes, checkedCount(length)), "AllocaTesto");
}

LibraryText ConversionLibrary::ConvertiMime64(const char *bytes, std::size_t count)
{
    const auto convert = resolve(&Functions::convertiMime64, "ConvertiMime64");
    constexpr std::int32_t kLinesOf76 = 1;
    return own(convert(reinterpret_cast<const std::uint8_t *>(bytes), checkedCount(count), kLinesOf76),
               "ConvertiMime64");
}

std::optional<std::size_t> ConversionLibrary::DecifraMime64(const LibraryText &text, char *into, std::size_t capacity)
{
    const auto decode = resolve(&Functions::decifraMime64, "DecifraMime64");
    // Decoding never yields more bytes than the text has characters, so the library has all the
    // room it can need: running short can only mean it failed inside.
    const std::int32_t count = decode(text.data(), reinterpret_cast<std::uint8_t *>(into),
                                      checkedCount(std::min(capacity, std::size_t { INT32_MAX })));
    if (count == -1)
        return std::nullopt;
    if (count < 0)
        throw osFailure(ENOMEM);
    return static_cast<std::size_t>(count);
}

LibraryText ConversionLibrary::ConvertiPrintable(const LibraryText &text)
{
    const auto convert = resolve(&Functions::convertiPrintable, "ConvertiPrintable");
    return own(convert(text.data()), "ConvertiPrintable");
}

LibraryText ConversionLibrary::DecifraPrintable(const LibraryText &text)
{
    const auto decode = resolve(&Functions::decifraPrintable, "DecifraPrintable");
    return own(decode(text.data()), "DecifraPrintable");
}
