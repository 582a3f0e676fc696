#include "job_errors.h"

#include <cstring>

JobError::JobError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(QString::number(number).toStdString() + ": " + m_description.toStdString())
{
}

JobError jobFailure(JobFailure failure, const QString &first, const QString &second)
{
    QString text = description(failure);
    // Placeholders are filled one by one so that a '%' inside a path stays literal.
    const qsizetype firstAt = text.indexOf(QLatin1String("%1"));
    if (firstAt >= 0) {
        text.replace(firstAt, 2, first);
        const qsizetype secondAt = text.indexOf(QLatin1String("%2"), firstAt + first.size());
        if (secondAt >= 0)
            text.replace(secondAt, 2, second);
    }
    return JobError(static_cast<int>(failure), text);
}

JobError osFailure(int error)
{
    // strerror follows LC_MESSAGES, which QCoreApplication sets from the environment.
    return JobError(error, QString::fromLocal8Bit(std::strerror(error)));
}

JobError cancelledByPerson()
{
    return JobError(kCancelledErrorNumber, text(Text::Cancelled));
}
