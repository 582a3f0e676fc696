#include "job_frame.h"

#include "job_errors.h"
#include "user_interaction.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

#include <cerrno>
#include <new>

void runJob(MessageBoxes &messages, const std::function<void()> &job)
{
    JobError failure(0, QString());
    try {
        job();
        return;
    } catch (const JobError &error) {
        failure = error;
    } catch (const std::bad_alloc &) {
        // A buffer the size of a large file may not fit: report it like the OS would.
        failure = osFailure(ENOMEM);
    }
    if (failure.number() == kCancelledErrorNumber)
        return;
    messages.show(QString::number(failure.number()) + QLatin1String(": ") + failure.description(),
                  MessageStyle::Critical, QStringLiteral("Errore"));
}

BusyCursor::BusyCursor()
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        m_active = true;
    }
}

BusyCursor::~BusyCursor()
{
    if (m_active)
        QGuiApplication::restoreOverrideCursor();
}
