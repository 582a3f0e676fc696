#pragma once
// The one failure type of a job: a number and a description for the person.

#include <QString>

#include <exception>
#include <string>

// Thrown where a step fails, caught once by runJob.
class JobError : public std::exception {
public:
    JobError(int number, QString description);

    int number() const { return m_number; }
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_description;
    std::string m_what;
};

// The file dialog was cancelled: the job ends without a word.
inline constexpr int kCancelledErrorNumber = 32755;

// The program's own failures. Numbers start above any errno value so the two
// kinds never share a number.
enum class JobFailure : int {
    EmptyInput = 1001, // %1 path
    NotMime64 = 1002, // %1 path
    NoMime64Data = 1003, // %1 path
    InputTooLarge = 1004, // %1 path
    EncodedTooLarge = 1005, // %1 path
    LibraryMissing = 1006, // %1 library file, %2 dlerror text
    FunctionMissing = 1007, // %1 function, %2 library file
    NoResult = 1008, // %1 function
    NotOrdinaryFile = 1009, // %1 path, %2 why (a JobFailureReason text)
    InputChanged = 1010, // %1 path
    TextTooLarge = 1011, // typed text beyond the library's counts
    Unexpected = 1012, // %1 what went wrong, as the failing code said it
};

// Why a path is not an ordinary file, to complete NotOrdinaryFile.
enum class NotOrdinaryReason { Directory, SymbolicLink, Fifo, Device, Socket, Other };

// Our failure with its Italian description; %1 and %2 filled from the arguments.
JobError jobFailure(JobFailure failure, const QString &first = {}, const QString &second = {});
// The Italian words for why a path is not an ordinary file.
QString notOrdinaryReasonText(NotOrdinaryReason reason);
// An OS failure: errno and its strerror text in the person's locale.
JobError osFailure(int error);
// What a file dialog throws on Cancel.
JobError cancelledByPerson();
