#include "job_frame.h"

#include "job_errors.h"
#include "texts.h"
#include "user_interaction.h"

#include <cerrno>
#include <new>

namespace {

void show(MessageBoxes &messages, const JobError &failure)
{
    if (failure.number() == kCancelledErrorNumber)
        return;
    messages.show(QString::number(failure.number()) + QLatin1String(": ") + describe(failure), MessageStyle::Critical,
                  text(Text::ErrorTitle));
}

} // namespace

void runJob(MessageBoxes &messages, const std::function<void()> &job)
{
    // Nothing may leave a job: an exception crossing a Qt slot ends the program.
    try {
        job();
    } catch (const JobError &error) {
        show(messages, error);
    } catch (const std::bad_alloc &) {
        // A buffer the size of a large file may not fit: report it as the OS would.
        show(messages, osFailure(ENOMEM));
    } catch (const std::exception &error) {
        show(messages, jobFailure(JobFailure::Unexpected, QString::fromLocal8Bit(error.what())));
    } catch (...) {
        show(messages, jobFailure(JobFailure::Unexpected, QStringLiteral("?")));
    }
}
