#pragma once
// The OS file and process calls of the jobs: whole-file reads, safe file replacement and the
// program's own folder. Plain POSIX, RAII throughout.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class WorkProgress;

// Largest file the library's 32-bit counts can take.
inline constexpr std::uint64_t kLargestInput = INT32_MAX;

// Reads the whole ordinary file at path. Once its size is known, and before a byte is read,
// room(size) is asked for size writable bytes; it may throw to refuse the file. Files over
// kLargestInput are refused before room is asked. The file is closed again before this returns.
// progress, when given, hears of every chunk and may stop the read by throwing.
void readWholeFile(const QString &path, const std::function<char *(std::size_t size)> &room,
                   WorkProgress *progress = nullptr);

// Makes the file at path hold exactly size bytes from data, or leaves what was there untouched.
// The content goes to an unnamed file in the same folder, is flushed to disk, named and renamed
// over path, so that a killed program leaves nothing behind. An existing read-only file (EACCES)
// or anything that is not an ordinary file is never replaced. The rename is the point of no
// return: progress may stop the replacement by throwing until then.
void replaceFile(const QString &path, const void *data, std::size_t size, WorkProgress *progress = nullptr);

// Test hooks for replaceFile; the default value restores normal work.
struct ReplaceHooksForTesting {
    // Asked before each write with the bytes written so far; a non-zero errno fails that write.
    std::function<int(std::size_t written)> beforeWrite;
    // Bytes a write may take at most; 0 for the usual chunk.
    std::size_t chunkBytes = 0;
    // Writes through a named temporary, as on file systems without unnamed files.
    bool namedTemporaryOnly = false;
};
void setReplaceHooksForTesting(ReplaceHooksForTesting hooks);

// The folder holding the running executable, as bytes for the OS; empty if unknown.
std::string ownFolder();
// Makes folder the current folder; false if that failed.
bool changeCurrentFolder(const std::string &folder);
