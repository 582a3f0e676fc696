#pragma once
// Lets one ordinary local file be dropped on a button, always as a copy. The button looks pressed
// while the pointer holds such a file over it; anything else is refused, and the pointer shows it.

#include <QObject>
#include <QString>

#include <functional>

class QDropEvent;
class QPushButton;

class FileDrop : public QObject {
public:
    // accepting: whether a drop would be taken now; dropped: gets the file's path, after the drop
    // has returned, so that the program the file came from is not kept waiting.
    FileDrop(QPushButton *button, std::function<bool()> accepting, std::function<void(const QString &)> dropped);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The one ordinary local file that drop carries and lets us copy, or an empty path.
    static QString droppedFile(const QDropEvent *drop);

    QPushButton *m_button;
    std::function<bool()> m_accepting;
    std::function<void(const QString &)> m_dropped;
};
