#include "job_errors.h"

#include <utility>

JobError::JobError(int number, QString first, QString second, FileKind kind)
    : m_number(number)
    , m_first(std::move(first))
    , m_second(std::move(second))
    , m_kind(kind)
    , m_what(std::to_string(number) + ": " + m_first.toStdString()
             + (m_second.isEmpty() ? std::string() : ": " + m_second.toStdString()))
{
}

JobError jobFailure(JobFailure failure, const QString &first, const QString &second)
{
    return JobError(static_cast<int>(failure), first, second);
}

JobError osFailure(int error)
{
    return JobError(error);
}

JobError cancelledByPerson()
{
    return JobError(kCancelledErrorNumber);
}
