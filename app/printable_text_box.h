#pragma once
// The read-only box that shows a Printable text: its CR LF pairs appear as
// line breaks, and copying hands the text back with its CR LF pairs.

#include <QPlainTextEdit>

class PrintableTextBox : public QPlainTextEdit {
public:
    explicit PrintableTextBox(QWidget *parent = nullptr);

    // Replaces the whole text shown.
    void setPrintableText(const QString &text);
    // The text last given to setPrintableText, exactly.
    const QString &printableText() const { return m_text; }

protected:
    // Used by copy and drag: the selected part of the text as it was given.
    QMimeData *createMimeDataFromSelection() const override;

private:
    QString m_text;
    QString m_shown;
};

// text with each CR LF pair as one line feed, the form the box displays.
QString displayedForm(const QString &text);
// The part of text that the characters [from, to) of displayedForm(text) show.
QString originalSpan(const QString &text, qsizetype from, qsizetype to);
