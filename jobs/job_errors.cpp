#include "job_errors.h"

#include <cstring>

JobError::JobError(int number, QString description)
    : m_number(number)
    , m_description(std::move(description))
    , m_what(QString::number(number).toStdString() + ": " + m_description.toStdString())
{
}

namespace {

Text descriptionOf(JobFailure failure)
{
    switch (failure) {
    case JobFailure::NotMime64:
        return Text::NotMime64;
    case JobFailure::InputTooLarge:
        return Text::InputTooLarge;
    case JobFailure::EncodedTooLarge:
        return Text::EncodedTooLarge;
    case JobFailure::LibraryMissing:
        return Text::LibraryMissing;
    case JobFailure::FunctionMissing:
        return Text::FunctionMissing;
    case JobFailure::NoResult:
        return Text::NoResult;
    case JobFailure::NotOrdinaryFile:
        return Text::NotOrdinaryFile;
    case JobFailure::InputChanged:
        return Text::InputChanged;
    case JobFailure::TypedTextTooLarge:
        return Text::TypedTextTooLarge;
    case JobFailure::Unexpected:
        break;
    }
    return Text::Unexpected;
}

} // namespace

JobError jobFailure(JobFailure failure, const QString &first, const QString &second)
{
    QString description = text(descriptionOf(failure));
    // Placeholders are filled one by one so that a '%' inside a path stays literal.
    const qsizetype firstAt = description.indexOf(QLatin1String("%1"));
    if (firstAt >= 0) {
        description.replace(firstAt, 2, first);
        const qsizetype secondAt = description.indexOf(QLatin1String("%2"), firstAt + first.size());
        if (secondAt >= 0)
            description.replace(secondAt, 2, second);
    }
    return JobError(static_cast<int>(failure), description);
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
