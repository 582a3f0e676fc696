#include "os_files.h"

#include "job_errors.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes go in chunks of at most this; tests take smaller ones to fail or pause a write midway.
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
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }

    int get() const { return m_fd; }
    void reset(int fd)
    {
        close();
        m_fd = fd;
    }
    bool valid() const { return m_fd >= 0; }
    // Hands the descriptor on, to be closed by its new owner.
    int release() { return std::exchange(m_fd, -1); }
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
    FileKind kind = FileKind::Special;
    if (S_ISDIR(mode))
        kind = FileKind::Folder;
    else if (S_ISLNK(mode))
        kind = FileKind::SymbolicLink;
    else if (S_ISFIFO(mode))
        kind = FileKind::Fifo;
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        kind = FileKind::Device;
    else if (S_ISSOCK(mode))
        kind = FileKind::Socket;
    return JobError(static_cast<int>(JobFailure::NotOrdinaryFile), path, {}, kind);
}

std::int64_t nanoseconds(const struct timespec &time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

} // namespace

InputFile::InputFile(const QString &path)
    : m_path(path)
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
    m_size = static_cast<std::uint64_t>(info.st_size);
    m_device = info.st_dev;
    m_inode = info.st_ino;
    m_modified = nanoseconds(info.st_mtim);
    m_changed = nanoseconds(info.st_ctim);
    m_origin = { info.st_mode & 07777, info.st_uid, info.st_gid };
    m_fd = file.release();
}

InputFile::~InputFile()
{
    ::close(m_fd);
}

std::size_t InputFile::read(char *target, std::size_t room)
{
    // At the first size, one byte more tells a file that grew.
    char beyond;
    const bool atEnd = m_offset >= m_size;
    const std::size_t wanted = atEnd ? 1 : static_cast<std::size_t>(std::min<std::uint64_t>(room, m_size - m_offset));
    ssize_t got;
    while ((got = ::pread(m_fd, atEnd ? &beyond : target, wanted, static_cast<off_t>(m_offset))) < 0
           && errno == EINTR) { }
    if (got < 0)
        throw osFailure(errno);
    if (atEnd != (got == 0))
        throw jobFailure(JobFailure::InputChanged, m_path);
    m_offset += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

bool InputFile::unchanged() const
{
    struct stat opened { };
    struct stat named { };
    return ::fstat(m_fd, &opened) == 0 && ::stat(encodedPath(m_path).c_str(), &named) == 0
        && static_cast<std::uint64_t>(opened.st_size) == m_size && nanoseconds(opened.st_mtim) == m_modified
        && nanoseconds(opened.st_ctim) == m_changed && named.st_dev == m_device && named.st_ino == m_inode;
}

void InputFile::checkUnchanged() const
{
    if (!unchanged())
        throw jobFailure(JobFailure::InputChanged, m_path);
}

namespace {

// Writes everything, through short writes and signals; 0 or the errno. written: the bytes before.
int writeAll(int fd, const char *data, std::size_t size, std::size_t written)
{
    const std::size_t chunk = g_hooks.chunkBytes != 0 ? g_hooks.chunkBytes : kChunkBytes;
    for (std::size_t done = 0; done < size;) {
        if (g_hooks.beforeWrite)
            if (const int error = g_hooks.beforeWrite(written + done); error != 0)
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

std::string folderOf(const std::string &name)
{
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
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
    // In a sticky folder the kernel keeps others from opening a file (fs.protected_regular); a
    // rename over it must not go around that, unless the folder is the file owner's.
    struct stat folder { };
    if (info.st_uid != ::geteuid() && ::stat(folderOf(name).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0
        && info.st_uid != folder.st_uid)
        throw jobFailure(JobFailure::OthersFileInStickyFolder, path);
    // Root passes access(W_OK) on any file, so the mode bits are checked on their own.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw osFailure(EACCES);
    if (::access(name.c_str(), W_OK) != 0)
        throw osFailure(errno);
    return info;
}

std::string randomName(const std::string &folder, int attempt)
{
    if (attempt == 0 && !g_hooks.firstTemporaryName.empty())
        return folder + '/' + g_hooks.firstTemporaryName;
    static unsigned long long fallback = 0;
    unsigned long long value = 0;
    if (::getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value))
        value = (static_cast<unsigned long long>(::getpid()) << 32) ^ ++fallback
            ^ static_cast<unsigned long long>(::time(nullptr));
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", value);
    return folder + "/.dravolin-" + suffix + ".tmp";
}

// Links the unnamed file fd into folder under a fresh name, through /proc, which needs no
// privilege; the name, or empty when the system would not.
std::string linkUnnamed(int fd, const std::string &folder)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = randomName(folder, attempt);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return candidate;
        if (errno != EEXIST)
            return {};
    }
    return {};
}

// An unnamed file in folder, or an invalid one where the file system makes none.
UniqueFd unnamedFile(const std::string &folder, mode_t mode)
{
    UniqueFd file(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!file.valid() && errno != EOPNOTSUPP && errno != EISDIR)
        throw osFailure(errno);
    return file;
}

// Whether an unnamed file made in folder can later be named: asked of an empty one, named and
// unnamed again at once, since a content written unnamed could not be written again.
bool unnamedFilesCanBeNamed(const std::string &folder)
{
    const UniqueFd probe = unnamedFile(folder, 0600);
    if (!probe.valid())
        return false;
    const std::string name = linkUnnamed(probe.get(), folder);
    return !name.empty() && ::unlink(name.c_str()) == 0;
}

// Whether the file fd and folder lie on one mount, so that the file can be linked into the folder.
bool onOneMount(int fd, const std::string &folder)
{
    struct statx file { };
    struct statx where { };
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &file) != 0
        || ::statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &where) != 0)
        return false;
    if ((file.stx_mask & where.stx_mask & STATX_MNT_ID) != 0)
        return file.stx_mnt_id == where.stx_mnt_id;
    // Kernels before 5.8 tell the device only; a bind mount then fails the link later.
    return file.stx_dev_major == where.stx_dev_major && file.stx_dev_minor == where.stx_dev_minor;
}

// Gives the file fd, made elsewhere, the group a file made in folder gets: the folder's where it is
// set-group-ID, else ours. False where we may not.
bool takeGroupOfNewFileIn(int fd, const std::string &folder)
{
    struct stat where { };
    struct stat file { };
    if (::stat(folder.c_str(), &where) != 0 || ::fstat(fd, &file) != 0)
        return false;
    const gid_t group = (where.st_mode & S_ISGID) != 0 ? where.st_gid : ::getegid();
    return file.st_gid == group || ::fchown(fd, static_cast<uid_t>(-1), group) == 0;
}

// The group and others may do no more with a result than with what it came from, so a private
// input never gets a readable copy; the owner's bits stay, so the next job can replace it.
mode_t resultBound(const FileOrigin &origin)
{
    return 0700 | (origin.mode & 077);
}

} // namespace

// The new content on its way in: an unnamed file where the folder can name one, else a hidden
// named one. Whatever name it has is removed again unless it was renamed into place.
class FileReplacement::Temporary {
public:
    Temporary(const std::string &folder, mode_t mode)
        : m_folder(folder)
    {
        if (!g_hooks.namedTemporaryOnly && unnamedFilesCanBeNamed(folder)) {
            m_fd = unnamedFile(folder, mode);
            if (m_fd.valid())
                return;
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = randomName(folder, attempt);
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
    // Takes over the unnamed file fd, to be named in folder.
    Temporary(const std::string &folder, UniqueFd fd)
        : m_folder(folder)
        , m_fd(std::move(fd))
    {
    }
    ~Temporary()
    {
        m_fd.close();
        if (!m_name.empty())
            ::unlink(m_name.c_str());
    }
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;

    int fd() const { return m_fd.get(); }

    // Flushes the content and closes the file, named.
    void finish()
    {
        if (::fsync(m_fd.get()) != 0)
            throw osFailure(errno);
        if (m_name.empty()) {
            m_name = linkUnnamed(m_fd.get(), m_folder);
            if (m_name.empty())
                throw osFailure(errno);
        }
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

UnnamedContent::UnnamedContent(const QString &folder, const FileOrigin &origin)
{
    if (!g_hooks.namedTemporaryOnly)
        m_fd = ::open(encodedPath(folder).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666 & resultBound(origin));
}

UnnamedContent::~UnnamedContent()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void UnnamedContent::write(const char *data, std::size_t size)
{
    if (m_fd < 0)
        return;
    if (writeAll(m_fd, data, size, m_written) != 0)
        ::close(std::exchange(m_fd, -1));
    m_written += size;
}

FileReplacement::FileReplacement(const QString &path)
    : m_path(path)
    , m_name(encodedPath(path))
{
}

FileReplacement::FileReplacement(const QString &path, const FileOrigin &origin)
    : FileReplacement(path)
{
    const std::optional<struct stat> old = replaceableTarget(path, m_name);
    // A new file gets the usual 0666 less the umask, bounded; a replacement stays private until it
    // takes the old file's owner and mode.
    m_temporary = std::make_unique<Temporary>(folderOf(m_name), old ? 0600 : 0666 & resultBound(origin));
    if (old)
        takeAfter(*old, origin);
}

std::unique_ptr<FileReplacement> FileReplacement::takingOver(UnnamedContent &content, const QString &path,
                                                             const FileOrigin &origin)
{
    std::unique_ptr<FileReplacement> replacement(new FileReplacement(path));
    const std::optional<struct stat> old = replaceableTarget(path, replacement->m_name);
    // Made as a new file of origin's, in a folder of the same mount, it differs from one made
    // here at most in its group.
    const std::string folder = folderOf(replacement->m_name);
    if (!content.held() || !onOneMount(content.m_fd, folder) || !unnamedFilesCanBeNamed(folder)
        || !takeGroupOfNewFileIn(content.m_fd, folder))
        return nullptr;
    replacement->m_temporary = std::make_unique<Temporary>(folder, UniqueFd(std::exchange(content.m_fd, -1)));
    if (old)
        replacement->takeAfter(*old, origin);
    return replacement;
}

void FileReplacement::takeAfter(const struct stat &old, const FileOrigin &origin)
{
    // The old file's owner and group where they are the input's or ours, else ours: someone
    // else's content never goes to a third user. Only root may give a file away, so a failure
    // leaves it ours, which is no failure; the result is tested, not cast away, since fortified
    // builds warn of an unused one all the same.
    const bool keepOwner = old.st_uid == origin.owner || old.st_uid == ::geteuid();
    const bool keepGroup = old.st_gid == origin.group || old.st_gid == ::getegid();
    const int fd = m_temporary->fd();
    if ((keepOwner || keepGroup)
        && ::fchown(fd, keepOwner ? old.st_uid : static_cast<uid_t>(-1),
                    keepGroup ? old.st_gid : static_cast<gid_t>(-1))
            != 0) {
        // EPERM: the result stays ours.
    }
    // Set-id and sticky bits are never carried over: decoding over a privileged program must not
    // leave a privileged program holding whatever was decoded.
    if (::fchmod(fd, old.st_mode & resultBound(origin)) != 0)
        throw osFailure(errno);
}

FileReplacement::~FileReplacement() = default;

void FileReplacement::write(const char *data, std::size_t size)
{
    if (const int error = writeAll(m_temporary->fd(), data, size, m_written); error != 0)
        throw osFailure(error);
    m_written += size;
}

void FileReplacement::commit(const std::function<void()> &beforeRename)
{
    m_temporary->finish();
    if (beforeRename)
        beforeRename();
    // Something may have appeared at path meanwhile: look again just before.
    replaceableTarget(m_path, m_name);
    m_temporary->renameOver(m_name);

    // Make the rename itself durable. The new content is already in place, so a folder that
    // cannot be synced (some file systems refuse) is not a failure.
    UniqueFd directory(::open(folderOf(m_name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        static_cast<void>(::fsync(directory.get()));
}

void replaceFile(const QString &path, const void *data, std::size_t size, const FileOrigin &origin)
{
    FileReplacement replacement(path, origin);
    replacement.write(static_cast<const char *>(data), size);
    replacement.commit();
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
