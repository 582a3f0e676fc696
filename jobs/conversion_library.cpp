#include "conversion_library.h"

#include "dravolin.h"
#include "job_errors.h"
#include "os_files.h"

#include <climits>

#include <dlfcn.h>
#include <unistd.h>

namespace {

constexpr const char *kBuildName = "libdravolin.so";
constexpr const char *kSoname = "libdravolin.so.1";

using AllocaTestoFunction = decltype(&::AllocaTesto);
using LunghezzaTestoFunction = decltype(&::LunghezzaTesto);
using ConvertiMime64Function = decltype(&::ConvertiMime64);
using DecifraMime64Function = decltype(&::DecifraMime64);
using ConvertiPrintableFunction = decltype(&::ConvertiPrintable);
using DecifraPrintableFunction = decltype(&::DecifraPrintable);

template <typename Function> Function as(void *symbol)
{
    return reinterpret_cast<Function>(symbol);
}

QString lastDlError()
{
    const char *text = ::dlerror();
    return QString::fromLocal8Bit(text != nullptr ? text : "");
}

std::int32_t checkedCount(std::size_t count)
{
    if (count > static_cast<std::size_t>(INT32_MAX))
        throw jobFailure(JobFailure::TextTooLarge);
    return static_cast<std::int32_t>(count);
}

} // namespace

ConversionLibrary::ConversionLibrary() = default;

ConversionLibrary::ConversionLibrary(const QString &libraryPath)
    : m_explicitPath(libraryPath.toLocal8Bit().toStdString())
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
    if (!m_explicitPath.empty())
        return open(m_explicitPath);

    const std::string folder = ownFolder();
    const std::string candidates[] = {
        folder + "/" + kBuildName,
        folder + "/../lib/" + kSoname,
        folder + "/../lib/x86_64-linux-gnu/" + kSoname,
    };
    // A library that is there but cannot load is the one to tell about.
    for (const std::string &candidate : candidates)
        if (!folder.empty() && ::access(candidate.c_str(), F_OK) == 0)
            return open(candidate);
    return open(kSoname);
}

void *ConversionLibrary::open(const std::string &path)
{
    m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr)
        throw jobFailure(JobFailure::LibraryMissing, QString::fromLocal8Bit(path.c_str()), lastDlError());
    m_loadedPath = path;
    return m_handle;
}

void *ConversionLibrary::function(const char *name, void *&cache)
{
    if (cache != nullptr)
        return cache;
    void *library = handle();
    ::dlerror();
    cache = ::dlsym(library, name);
    if (cache == nullptr)
        throw jobFailure(JobFailure::FunctionMissing, QString::fromLatin1(name),
                         QString::fromLocal8Bit(m_loadedPath.c_str()));
    return cache;
}

void ConversionLibrary::resolveTextHelpers()
{
    // Looked up before a text is produced, so a produced text is always freed.
    function("LiberaTesto", m_liberaTesto);
    function("LunghezzaTesto", m_lunghezzaTesto);
}

LibraryText ConversionLibrary::wrap(char *text, const char *producer)
{
    if (text == nullptr)
        throw jobFailure(JobFailure::NoResult, QString::fromLatin1(producer));
    const auto length = as<LunghezzaTestoFunction>(m_lunghezzaTesto)(text);
    LibraryText owned(text, length < 0 ? 0 : static_cast<std::size_t>(length), as<LiberaTestoFunction>(m_liberaTesto));
    if (length < 0)
        throw jobFailure(JobFailure::NoResult, QString::fromLatin1(producer));
    return owned;
}

LibraryText ConversionLibrary::AllocaTesto(const char *bytes, std::size_t length)
{
    const auto allocate = as<AllocaTestoFunction>(function("AllocaTesto", m_allocaTesto));
    resolveTextHelpers();
    return wrap(allocate(bytes, checkedCount(length)), "AllocaTesto");
}

LibraryText ConversionLibrary::ConvertiMime64(const std::uint8_t *bytes, std::size_t count)
{
    const auto convert = as<ConvertiMime64Function>(function("ConvertiMime64", m_convertiMime64));
    resolveTextHelpers();
    return wrap(convert(bytes, checkedCount(count), 1), "ConvertiMime64");
}

std::int32_t ConversionLibrary::DecifraMime64(const LibraryText &text, std::uint8_t *buffer, std::size_t capacity)
{
    const auto decode = as<DecifraMime64Function>(function("DecifraMime64", m_decifraMime64));
    return decode(text.data(), buffer, checkedCount(capacity));
}

LibraryText ConversionLibrary::ConvertiPrintable(const LibraryText &text)
{
    const auto convert = as<ConvertiPrintableFunction>(function("ConvertiPrintable", m_convertiPrintable));
    resolveTextHelpers();
    return wrap(convert(text.data()), "ConvertiPrintable");
}

LibraryText ConversionLibrary::DecifraPrintable(const LibraryText &text)
{
    const auto decode = as<DecifraPrintableFunction>(function("DecifraPrintable", m_decifraPrintable));
    resolveTextHelpers();
    return wrap(decode(text.data()), "DecifraPrintable");
}
