#include "os_files.h"

#include "job_errors.h"
#include "user_interaction.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads and writes go in chunks so that progress shows and a cancel is heard between them.
constexpr std::size_t kChunkBytes = std::size_t { 8 } << 20;

ReplaceHooksForTesting g_hooks;

// An open file descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~UniqueFd() { close(); }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    void reset(int fd)
    {
        close();
        m_fd = fd;
    }
    bool valid() const { return m_fd >= 0; }
    // Closes now and gives the close's own errno, or 0: NFS reports late write errors here. On
    // Linux the descriptor is gone even when close fails, so it is never retried.
    int close()
    {
        const int result = m_fd >= 0 ? ::close(m_fd) : 0;
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

std::string encodedPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

JobError notOrdinary(const QString &path, mode_t mode)
{
    Text why = Text::IsSpecial;
    if (S_ISDIR(mode))
        why = Text::IsFolder;
    else if (S_ISLNK(mode))
        why = Text::IsSymbolicLink;
    else if (S_ISFIFO(mode))
        why = Text::IsFifo;
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        why = Text::IsDevice;
    else if (S_ISSOCK(mode))
        why = Text::IsSocket;
    return jobFailure(JobFailure::NotOrdinaryFile, path, text(why));
}

void readAll(int fd, char *target, std::size_t size, const QString &path, WorkProgress *progress)
{
    for (std::size_t done = 0; done < size;) {
        if (progress)
            progress->advance(done, size);
        const ssize_t got = ::read(fd, target + done, std::min(kChunkBytes, size - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw osFailure(errno);
        if (got == 0)
            throw jobFailure(JobFailure::InputChanged, path);
        done += static_cast<std::size_t>(got);
    }
    // A file still growing would be cut short without a word.
    char beyond;
    ssize_t got;
    while ((got = ::read(fd, &beyond, 1)) < 0 && errno == EINTR) { }
    if (got < 0)
        throw osFailure(errno);
    if (got > 0)
        throw jobFailure(JobFailure::InputChanged, path);
}

} // namespace

void readWholeFile(const QString &path, const std::function<char *(std::size_t size)> &room, WorkProgress *progress)
{
    // O_NONBLOCK so that a FIFO chosen by mistake cannot hang the job.
    UniqueFd file(::open(encodedPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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
    readAll(file.get(), room(static_cast<std::size_t>(size)), static_cast<std::size_t>(size), path, progress);
    if (progress)
        progress->advance(size, size);
    if (const int error = file.close(); error != 0)
        throw osFailure(error);
}

namespace {

// Writes everything, through short writes and signals; 0 or the errno.
int writeAll(int fd, const char *data, std::size_t size, WorkProgress *progress)
{
    const std::size_t chunk = g_hooks.chunkBytes != 0 ? g_hooks.chunkBytes : kChunkBytes;
    for (std::size_t done = 0; done < size;) {
        if (progress)
            progress->advance(done, size);
        if (g_hooks.beforeWrite)
            if (const int error = g_hooks.beforeWrite(done); error != 0)
                return error;
        const ssize_t put = ::write(fd, data + done, std::min(chunk, size - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return errno;
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
    return slash == 0 ? "/" : name.substr(0, slash);
}

std::string randomName(const std::string &folder)
{
    static unsigned long long fallback = 0;
    unsigned long long value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value))
        value = (static_cast<unsigned long long>(::getpid()) << 32) ^ ++fallback
            ^ static_cast<unsigned long long>(::time(nullptr));
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", value);
    return folder + "/.dravolin-" + suffix + ".tmp";
}

// The new content on its way in: an unnamed file where the file system has them, else a hidden
// named one. Whatever name it has is removed again unless it was renamed into place.
class Replacement {
public:
    Replacement(const std::string &folder, mode_t mode, bool unnamed)
        : m_folder(folder)
    {
        if (unnamed) {
            m_fd.reset(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
            if (m_fd.valid())
                return;
            if (errno != EOPNOTSUPP && errno != EISDIR)
                throw osFailure(errno);
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(folder);
            // Created exclusively: never someone else's file, nor a link.
            m_fd.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
            if (m_fd.valid()) {
                m_name = candidate;
                return;
            }
            if (errno != EEXIST)
                throw osFailure(errno);
        }
        throw osFailure(EEXIST);
    }
    ~Replacement()
    {
        m_fd.close();
        if (!m_name.empty())
            ::unlink(m_name.c_str());
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    int fd() const { return m_fd.get(); }

    // Gives an unnamed file its name, through /proc, which needs no privilege. False when the
    // system would not: the content must then go through a named file instead.
    bool giveName()
    {
        if (!m_name.empty())
            return true;
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(m_folder);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_name = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    void closeFile()
    {
        if (const int error = m_fd.close(); error != 0)
            throw osFailure(error);
    }
    void renameOver(const std::string &target)
    {
        if (::rename(m_name.c_str(), target.c_str()) != 0)
            throw osFailure(errno);
        m_name.clear();
    }

private:
    std::string m_folder;
    std::string m_name;
    UniqueFd m_fd;
};

// The content, the old file's owner (where we may) and its permission bits, flushed to disk.
// Set-id and sticky bits are never carried over: decoding over a privileged program must not
// leave a privileged program holding whatever was decoded.
void fill(const Replacement &replacement, const std::optional<struct stat> &old, const void *data, std::size_t size,
          WorkProgress *progress)
{
    const int fd = replacement.fd();
    if (old) {
        // Only root may give a file away: otherwise it becomes ours.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid())
            static_cast<void>(::fchown(fd, old->st_uid, old->st_gid));
        if (::fchmod(fd, old->st_mode & 0777) != 0)
            throw osFailure(errno);
    }
    if (const int error = writeAll(fd, static_cast<const char *>(data), size, progress); error != 0)
        throw osFailure(error);
    if (::fsync(fd) != 0)
        throw osFailure(errno);
}

} // namespace

void replaceFile(const QString &path, const void *data, std::size_t size, WorkProgress *progress)
{
    const std::string name = encodedPath(path);
    const std::optional<struct stat> old = replaceableTarget(path, name);
    const std::string folder = folderOf(name);
    // A new file gets the usual 0666 less the umask; a replacement stays private until it takes
    // the old file's owner and mode.
    const mode_t mode = old ? 0600 : 0666;

    auto replacement = std::make_unique<Replacement>(folder, mode, !g_hooks.namedTemporaryOnly);
    fill(*replacement, old, data, size, progress);
    if (!replacement->giveName()) {
        replacement = std::make_unique<Replacement>(folder, mode, false);
        fill(*replacement, old, data, size, progress);
    }
    replacement->closeFile();

    if (progress)
        progress->advance(size, size); // the last moment the person may still stop it
    // Something may have appeared at path meanwhile: look again just before.
    replaceableTarget(path, name);
    replacement->renameOver(name);

    // Make the rename itself durable. The new content is already in place, so a folder that
    // cannot be synced (some file systems refuse) is not a failure.
    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        static_cast<void>(::fsync(directory.get()));
}

void setReplaceHooksForTesting(ReplaceHooksForTesting hooks)
{
    g_hooks = std::move(hooks);
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
        return encodedPath(QCoreApplication::applicationDirPath());
    return {};
}

bool changeCurrentFolder(const std::string &folder)
{
    return !folder.empty() && ::chdir(folder.c_str()) == 0;
}
