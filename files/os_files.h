#pragma once
// The OS file and process calls of the jobs: the input read in pieces, safe file replacement and
// the program's own folder. Plain POSIX, RAII throughout.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

// What of an input bounds a file made from it: its permission bits, and the owner and group a file
// it replaces may keep. The default bounds nothing and names no one.
struct FileOrigin {
    mode_t mode = 0777;
    uid_t owner = static_cast<uid_t>(-1);
    gid_t group = static_cast<gid_t>(-1);
};

// An ordinary file opened for reading and kept open until the job ends, so that it can be read
// twice and checked for changes before its result takes a name.
class InputFile {
public:
    // Refuses what is not an ordinary file (1009) and what cannot be opened (errno).
    explicit InputFile(const QString &path);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    const QString &path() const { return m_path; }
    // The size it had when opened.
    std::uint64_t size() const { return m_size; }
    // Reading starts again from the first byte.
    void rewind() { m_offset = 0; }
    // Reads up to room bytes into target; 0 at the end. A file that ends before its first size or
    // goes on past it has changed (1010).
    std::size_t read(char *target, std::size_t room);
    // Whether the path still names this file, with its first size, modification and change times:
    // an editor that rewrites in place keeps the size, and may set the old modification time back,
    // but cannot set the change time.
    bool unchanged() const;
    // Throws 1010 unless unchanged().
    void checkUnchanged() const;
    const FileOrigin &origin() const { return m_origin; }

private:
    QString m_path;
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_offset = 0;
    // Who the file is, as first seen: device, inode, modification and change times in nanoseconds.
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    std::int64_t m_modified = 0;
    std::int64_t m_changed = 0;
    FileOrigin m_origin;
};

// Content written before the name it will take is known: an unnamed file, never visible, whose
// space is freed when it is let go. A FileReplacement on the same file system may take it over.
class UnnamedContent {
public:
    // An unnamed file in folder, with the mode a new file made from origin gets. It holds nothing
    // where the folder cannot be written or its file system makes no unnamed files: never a named
    // file in its place, since no name may appear before the person has chosen one.
    UnnamedContent(const QString &folder, const FileOrigin &origin);
    ~UnnamedContent();
    UnnamedContent(const UnnamedContent &) = delete;
    UnnamedContent &operator=(const UnnamedContent &) = delete;

    // Whether it holds everything written to it.
    bool held() const { return m_fd >= 0; }
    // Appends. A failure (a full disk, a quota) lets the file go and its space with it: from then
    // on it holds nothing.
    void write(const char *data, std::size_t size);

private:
    friend class FileReplacement;
    int m_fd = -1;
    std::size_t m_written = 0;
};

// The file at path replaced whole by what is written here, or left untouched. The content goes to
// an unnamed file in the same folder, is flushed to disk, named and renamed over path, so that a
// killed program leaves nothing behind; where the folder cannot name an unnamed file, a hidden
// named one is written from the start instead. An existing read-only file (EACCES), anything that
// is not an ordinary file, and another user's file in a sticky folder (1014) are never replaced.
// The result has the permission bits of the file replaced, or 0666 less the umask, with the
// group's and others' bits no wider than origin's; it keeps the old file's owner and group only
// where they are origin's or ours.
class FileReplacement {
public:
    FileReplacement(const QString &path, const FileOrigin &origin);
    // A replacement of path whose content is content's, which it takes over; nothing where that
    // content cannot become path (another mount, a group a new file there could not have), and
    // content is then left as it was. Refuses what the constructor refuses.
    static std::unique_ptr<FileReplacement> takingOver(UnnamedContent &content, const QString &path,
                                                       const FileOrigin &origin);
    // Removes whatever was written unless commit() renamed it into place.
    ~FileReplacement();
    FileReplacement(const FileReplacement &) = delete;
    FileReplacement &operator=(const FileReplacement &) = delete;

    void write(const char *data, std::size_t size);
    // Flushes, names and renames the content over path, then flushes the folder. beforeRename
    // runs just before the rename, the point of no return, and may stop it by throwing.
    void commit(const std::function<void()> &beforeRename = {});

private:
    class Temporary;
    explicit FileReplacement(const QString &path);
    // The old file's owner, group and mode, within origin's bounds.
    void takeAfter(const struct stat &old, const FileOrigin &origin);

    QString m_path;
    std::string m_name;
    std::unique_ptr<Temporary> m_temporary;
    std::size_t m_written = 0;
};

// Makes the file at path hold exactly size bytes from data, through a FileReplacement.
void replaceFile(const QString &path, const void *data, std::size_t size, const FileOrigin &origin = {});

// Test hooks for FileReplacement; the default value restores normal work.
struct ReplaceHooksForTesting {
    // Asked before each write with the bytes written so far; a non-zero errno fails that write.
    std::function<int(std::size_t written)> beforeWrite;
    // Bytes a write may take at most; 0 for the usual chunk.
    std::size_t chunkBytes = 0;
    // Writes through a named temporary, as on file systems without unnamed files; no
    // UnnamedContent holds anything.
    bool namedTemporaryOnly = false;
    // The first name a named temporary tries, before random ones; empty for random ones only.
    std::string firstTemporaryName = {};
};
void setReplaceHooksForTesting(ReplaceHooksForTesting hooks);

// The folder holding the running executable, as bytes for the OS; empty if unknown.
std::string ownFolder();
// Makes folder the current folder; false if that failed.
bool changeCurrentFolder(const std::string &folder);
