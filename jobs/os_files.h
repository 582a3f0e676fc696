#pragma once
// The OS file and process calls of the jobs: whole-file reads, safe file
// replacement and the program's own folder. Plain POSIX, RAII throughout.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// An open file descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd)
        : m_fd(fd)
    {
    }
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept
        : m_fd(other.release())
    {
    }
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();
    void reset();
    // Closes now and reports the close's own failure (NFS reports late write errors here).
    int close();

private:
    int m_fd = -1;
};

// Unmaps a ByteBuffer's memory.
struct MappedBytesDeleter {
    std::size_t length = 0;
    void operator()(std::uint8_t *bytes) const;
};

// A byte buffer of an exact size; its bytes are only made resident when first
// touched, and in huge pages where the system allows.
struct ByteBuffer {
    std::unique_ptr<std::uint8_t[], MappedBytesDeleter> data;
    std::size_t size = 0;
};
// Throws JobError (ENOMEM) when the memory is not there.
ByteBuffer makeByteBuffer(std::size_t size);

// Largest file the library's 32-bit counts can take.
inline constexpr std::uint64_t kLargestInput = INT32_MAX;

// Reads the whole ordinary file at path. Once its size is known, and before a
// byte is read, room(size) is asked for size writable bytes; it may throw to
// refuse the file. Files over kLargestInput are refused before room is asked.
// The file is closed again before this returns.
void readWholeFile(const QString &path, const std::function<char *(std::size_t size)> &room);

// Makes the file at path hold exactly size bytes from data, or leaves what was
// there untouched: the content goes to a new temporary file in the same folder,
// is flushed to disk and renamed over path. An existing read-only file (EACCES)
// or anything that is not an ordinary file is never replaced.
void replaceFile(const QString &path, const void *data, std::size_t size);

// Test hook: while error is non-zero, writes to a replacement file fail with
// that errno once afterBytes bytes have been written. 0 restores real writes.
void injectWriteFailureForTesting(int error, std::size_t afterBytes = 0);

// The folder holding the running executable, as bytes for the OS; empty if unknown.
std::string ownFolder();
// Makes folder the current folder; false if that failed.
bool changeCurrentFolder(const std::string &folder);
