#pragma once
// The one failure type of a job: a number and a description for the person.

#include "texts.h"

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
    NotOrdinaryFile = 1009, // %1 path, %2 why (one of Text::IsFolder ... Text::IsSpecial)
    InputChanged = 1010, // %1 path
    TypedTextTooLarge = 1011,
    Unexpected = 1012, // %1 what went wrong, as the failing code said it
    PieceTooLarge = 1013, // %1 path
};

// Our failure with its Italian description; %1 and %2 filled from the arguments.
JobError jobFailure(JobFailure failure, const QString &first = {}, const QString &second = {});
// An OS failure: errno and its strerror text in the person's locale.
JobError osFailure(int error);
// What a cancelled file dialog or progress dialog throws.
JobError cancelledByPerson();
