#include "qt_message_boxes.h"

#include <QMessageBox>

QString promptForDisplay(const QString &prompt)
{
    QString shown = prompt;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

MessageAnswer QtMessageBoxes::show(const QString &prompt, MessageStyle style, const QString &title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    // Paths and library texts are shown as written, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(promptForDisplay(prompt));
    switch (style) {
    case MessageStyle::YesNoQuestion:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MessageStyle::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageStyle::Critical:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    const int pressed = box.exec();
    if (style != MessageStyle::YesNoQuestion)
        return MessageAnswer::Ok;
    // Closing the box any other way counts as No: nothing runs unasked.
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}
