#include "file_drop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace {

// Takes the file as a copy whatever the source proposes, so that the original stays where it was.
void takeAsCopy(QDropEvent *drop)
{
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
}

} // namespace

FileDrop::FileDrop(QPushButton *button, std::function<bool()> accepting, std::function<void(const QString &)> dropped)
    : QObject(button)
    , m_button(button)
    , m_accepting(std::move(accepting))
    , m_dropped(std::move(dropped))
{
    button->setAcceptDrops(true);
    button->installEventFilter(this);
}

QString FileDrop::droppedFile(const QDropEvent *drop)
{
    // Only a copy: a source told its file was moved may delete the person's original.
    const QMimeData *data = drop->mimeData();
    if (!(drop->possibleActions() & Qt::CopyAction) || data == nullptr || data->urls().size() != 1)
        return {};
    // A file URL names a file of this machine only without a host or with "localhost"; any other
    // host would be read as a path starting with "//", which Linux opens as a local one.
    const QUrl url = data->urls().first();
    const QString path = url.path();
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost"))
        || !path.startsWith(QLatin1Char('/')))
        return {};
    const QFileInfo file(path);
    return file.isFile() ? file.absoluteFilePath() : QString();
}

bool FileDrop::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        const bool taken = m_accepting() && !droppedFile(drag).isEmpty();
        drag->setAccepted(taken);
        if (taken)
            takeAsCopy(drag);
        m_button->setDown(taken);
        return true;
    }
    case QEvent::DragLeave:
        m_button->setDown(false);
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        m_button->setDown(false);
        const QString file = droppedFile(drop);
        if (file.isEmpty() || !m_accepting()) {
            drop->ignore();
            return true;
        }
        takeAsCopy(drop);
        QMetaObject::invokeMethod(
            this, [this, file] { m_dropped(file); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
