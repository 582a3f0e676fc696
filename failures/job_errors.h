#pragma once
// The one failure type of a job: a number and what it names. No words here: the person's words are
// added where the failure is shown (texts' describe), so the layers that throw need no texts.

#include <QString>

#include <exception>
#include <string>

// A file dialog was cancelled, or the person stopped the job: it ends without a word.
inline constexpr int kCancelledErrorNumber = 32755;

// The program's own failures. Numbers start above any errno value so the two kinds never share a
// number. 1001 (an empty input) and 1003 (a .m64 holding only blanks) are retired: both convert now;
// so are 1004 and 1005 (inputs too large for one library call): files convert in pieces.
enum class JobFailure : int {
    NotMime64 = 1002, // %1 path
    LibraryMissing = 1006, // %1 library file, %2 dlerror text
    FunctionMissing = 1007, // %1 function, %2 library file
    NoResult = 1008, // %1 function
    NotOrdinaryFile = 1009, // %1 path; what it is instead in fileKind()
    InputChanged = 1010, // %1 path
    TypedTextTooLarge = 1011,
    Unexpected = 1012, // %1 what went wrong, as the failing code said it
    PieceTooLarge = 1013, // %1 path
    OthersFileInStickyFolder = 1014, // %1 path
};

// What a path that is not an ordinary file names instead.
enum class FileKind { Folder, SymbolicLink, Fifo, Device, Socket, Special };

// Thrown where a step fails, caught once by runJob.
class JobError : public std::exception {
public:
    // number is an errno value, one of JobFailure or kCancelledErrorNumber.
    explicit JobError(int number, QString first = {}, QString second = {}, FileKind kind = FileKind::Special);

    int number() const { return m_number; }
    // An errno value rather than one of our own failures.
    bool fromSystem() const { return m_number > 0 && m_number < static_cast<int>(JobFailure::NotMime64); }
    const QString &first() const { return m_first; }
    const QString &second() const { return m_second; }
    FileKind fileKind() const { return m_kind; }
    // The number and what it names, for logs; never shown to the person.
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_first;
    QString m_second;
    FileKind m_kind;
    std::string m_what;
};

JobError jobFailure(JobFailure failure, const QString &first = {}, const QString &second = {});
// An OS failure: errno, described later in the person's locale.
JobError osFailure(int error);
// What a cancelled file dialog or progress dialog throws.
JobError cancelledByPerson();
