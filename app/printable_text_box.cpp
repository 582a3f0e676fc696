#include "printable_text_box.h"

#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

QString displayedForm(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

QString originalSpan(const QString &text, qsizetype from, qsizetype to)
{
    // Walk both forms together: a CR LF pair is one displayed character.
    qsizetype shown = 0;
    qsizetype start = text.size();
    qsizetype end = text.size();
    for (qsizetype i = 0; i <= text.size(); ++shown) {
        if (shown == from)
            start = i;
        if (shown == to) {
            end = i;
            break;
        }
        if (i == text.size())
            break;
        const bool pair = text.at(i) == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n');
        i += pair ? 2 : 1;
    }
    return start < end ? text.mid(start, end - start) : QString();
}

PrintableTextBox::PrintableTextBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
}

void PrintableTextBox::setPrintableText(const QString &text)
{
    m_text = text;
    m_shown = displayedForm(text);
    setPlainText(m_shown);
}

QMimeData *PrintableTextBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    // Map back only while the document still holds what we put there, one
    // position per displayed character (the last count is the final separator).
    if (!cursor.hasSelection() || document()->characterCount() - 1 != m_shown.size())
        return QPlainTextEdit::createMimeDataFromSelection();
    // Plain text only: the base class would regenerate it from the document.
    auto *mime = new QMimeData;
    mime->setText(originalSpan(m_text, cursor.selectionStart(), cursor.selectionEnd()));
    return mime;
}
