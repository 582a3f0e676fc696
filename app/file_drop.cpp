#include "file_drop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

FileDrop::FileDrop(QPushButton *button, std::function<bool()> accepting, std::function<void(const QString &)> dropped)
    : QObject(button)
    , m_button(button)
    , m_accepting(std::move(accepting))
    , m_dropped(std::move(dropped))
{
    button->setAcceptDrops(true);
    button->installEventFilter(this);
}

QString FileDrop::droppedFile(const QMimeData *data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 || !data->urls().first().isLocalFile())
        return {};
    const QFileInfo file(data->urls().first().toLocalFile());
    return file.isFile() ? file.absoluteFilePath() : QString();
}

bool FileDrop::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        const bool taken = m_accepting() && !droppedFile(drag->mimeData()).isEmpty();
        drag->setAccepted(taken);
        if (taken)
            drag->acceptProposedAction();
        m_button->setDown(taken);
        return true;
    }
    case QEvent::DragLeave:
        m_button->setDown(false);
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        m_button->setDown(false);
        const QString file = droppedFile(drop->mimeData());
        if (file.isEmpty() || !m_accepting()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        QMetaObject::invokeMethod(
            this, [this, file] { m_dropped(file); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}
