#include "os_files.h"

#include "job_errors.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = other.release();
    }
    return *this;
}

int UniqueFd::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int UniqueFd::close()
{
    if (m_fd < 0)
        return 0;
    // On Linux the descriptor is gone even when close fails: never retry it.
    const int result = ::close(m_fd);
    m_fd = -1;
    return result == 0 ? 0 : errno;
}

void MappedBytesDeleter::operator()(std::uint8_t *bytes) const
{
    if (bytes != nullptr)
        ::munmap(bytes, length);
}

ByteBuffer makeByteBuffer(std::size_t size)
{
    // A whole file's worth of small pages costs a fault each (a tenth of a
    // second or more per 256 MiB); huge pages cut that to one fault per 2 MiB.
    // A length in whole huge pages lets the kernel align the mapping for them.
    // Untouched pages never become resident, so nothing is reserved up front.
    constexpr std::size_t kHugePage = std::size_t { 2 } << 20;
    std::size_t length = size == 0 ? 1 : size;
    if (length >= kHugePage && length <= SIZE_MAX - kHugePage)
        length = (length + kHugePage - 1) / kHugePage * kHugePage;
    void *memory = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED)
        throw osFailure(ENOMEM);
    if (length >= kHugePage) {
        // Only advice: without huge pages the buffer works the same.
        ::madvise(memory, length, MADV_HUGEPAGE);
    }
    ByteBuffer buffer;
    buffer.data = std::unique_ptr<std::uint8_t[], MappedBytesDeleter>(static_cast<std::uint8_t *>(memory),
                                                                      MappedBytesDeleter { length });
    buffer.size = size;
    return buffer;
}

namespace {

std::string encodedPath(const QString &path)
{
    return path.toLocal8Bit().toStdString();
}

NotOrdinaryReason reasonFor(mode_t mode)
{
    if (S_ISDIR(mode))
        return NotOrdinaryReason::Directory;
    if (S_ISLNK(mode))
        return NotOrdinaryReason::SymbolicLink;
    if (S_ISFIFO(mode))
        return NotOrdinaryReason::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return NotOrdinaryReason::Device;
    if (S_ISSOCK(mode))
        return NotOrdinaryReason::Socket;
    return NotOrdinaryReason::Other;
}

JobError notOrdinary(const QString &path, mode_t mode)
{
    return jobFailure(JobFailure::NotOrdinaryFile, path, notOrdinaryReasonText(reasonFor(mode)));
}

} // namespace

void readWholeFile(const QString &path, const std::function<char *(std::size_t size)> &room)
{
    const std::string name = encodedPath(path);
    // O_NONBLOCK so that a FIFO chosen by mistake cannot hang the window.
    UniqueFd file(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid())
        throw osFailure(errno);
    struct stat info { };
    if (::fstat(file.get(), &info) != 0)
        throw osFailure(errno);
    if (!S_ISREG(info.st_mode))
        throw notOrdinary(path, info.st_mode);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > kLargestInput)
        throw jobFailure(JobFailure::InputTooLarge, path);

    char *target = room(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(file.get(), target + done, static_cast<std::size_t>(size) - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw osFailure(errno);
        }
        if (got == 0)
            throw jobFailure(JobFailure::InputChanged, path);
        done += static_cast<std::size_t>(got);
    }
    // A file still growing would be cut short without a word.
    char beyond;
    while (true) {
        const ssize_t got = ::read(file.get(), &beyond, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw osFailure(errno);
        if (got > 0)
            throw jobFailure(JobFailure::InputChanged, path);
        break;
    }
    if (const int error = file.close(); error != 0)
        throw osFailure(error);
}

namespace {

int g_writeFailure = 0;
std::size_t g_writeFailureAfter = 0;

// write(2) for replacement files, where the test hook can cut in.
ssize_t writeSome(int fd, const char *data, std::size_t size, std::size_t writtenSoFar)
{
    if (g_writeFailure != 0) {
        if (writtenSoFar >= g_writeFailureAfter) {
            errno = g_writeFailure;
            return -1;
        }
        size = std::min(size, g_writeFailureAfter - writtenSoFar);
    }
    return ::write(fd, data, size);
}

// Writes everything, through short writes and signals; 0 or the errno.
int writeAll(int fd, const char *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = writeSome(fd, data + done, size - done, done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (put == 0)
            return EIO;
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

// What stands at path now, if anything; throws when it must not be replaced.
std::optional<struct stat> replaceableTarget(const QString &path, const std::string &name)
{
    struct stat info { };
    if (::lstat(name.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw osFailure(errno);
    }
    if (!S_ISREG(info.st_mode))
        throw notOrdinary(path, info.st_mode);
    // Root passes access(W_OK) on any file, so the mode bits are checked on their own.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw osFailure(EACCES);
    if (::access(name.c_str(), W_OK) != 0)
        throw osFailure(errno);
    return info;
}

std::string folderOf(const std::string &name)
{
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return name.substr(0, slash);
}

// The temporary file, removed again unless it was renamed into place.
class TemporaryFile {
public:
    // mode as for open(2): the kernel applies the umask and any default ACL.
    TemporaryFile(const std::string &folder, mode_t mode)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = folder + "/.dravolin-" + randomSuffix() + ".tmp";
            // Created exclusively: never someone else's file, nor a link.
            const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
            if (fd >= 0) {
                m_fd = UniqueFd(fd);
                m_name = candidate;
                return;
            }
            if (errno != EEXIST)
                throw osFailure(errno);
        }
        throw osFailure(EEXIST);
    }
    ~TemporaryFile()
    {
        m_fd.reset();
        if (!m_name.empty())
            ::unlink(m_name.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    UniqueFd &fd() { return m_fd; }
    const std::string &name() const { return m_name; }
    void keep() { m_name.clear(); }

private:
    static std::string randomSuffix()
    {
        static unsigned long long fallback = 0;
        unsigned long long value = 0;
        if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value))
            value = (static_cast<unsigned long long>(::getpid()) << 32) ^ ++fallback
                ^ static_cast<unsigned long long>(::time(nullptr));
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", value);
        return text;
    }

    UniqueFd m_fd;
    std::string m_name;
};

} // namespace

void replaceFile(const QString &path, const void *data, std::size_t size)
{
    const std::string name = encodedPath(path);
    const std::optional<struct stat> old = replaceableTarget(path, name);
    const std::string folder = folderOf(name);

    // A new file gets the usual 0666 less the umask; a replacement stays
    // private until it takes the old file's owner (where we may) and mode.
    TemporaryFile temporary(folder, old ? 0600 : 0666);
    const int fd = temporary.fd().get();
    if (old) {
        // Only root may give a file away: otherwise it becomes ours.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
            static_cast<void>(::fchown(fd, old->st_uid, old->st_gid));
        if (::fchmod(fd, old->st_mode & 07777) != 0)
            throw osFailure(errno);
    }
    if (const int error = writeAll(fd, static_cast<const char *>(data), size); error != 0)
        throw osFailure(error);
    if (::fsync(fd) != 0)
        throw osFailure(errno);
    if (const int error = temporary.fd().close(); error != 0)
        throw osFailure(error);

    // Something may have appeared at path meanwhile: look again just before.
    replaceableTarget(path, name);
    if (::rename(temporary.name().c_str(), name.c_str()) != 0)
        throw osFailure(errno);
    temporary.keep();

    // Make the rename itself durable. The new content is already in place, so a
    // folder that cannot be synced (some file systems refuse) is not a failure.
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        static_cast<void>(::fsync(directory.get()));
}

void injectWriteFailureForTesting(int error, std::size_t afterBytes)
{
    g_writeFailure = error;
    g_writeFailureAfter = afterBytes;
}

std::string ownFolder()
{
    std::string buffer(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length > 0 && static_cast<std::size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<std::size_t>(length));
        return folderOf(buffer);
    }
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath().toLocal8Bit().toStdString();
    return {};
}

bool changeCurrentFolder(const std::string &folder)
{
    return !folder.empty() && ::chdir(folder.c_str()) == 0;
}
