#pragma once
// Message boxes shown as QMessageBox, modal to the window that owns them.

#include "user_interaction.h"

class QWidget;

class QtMessageBoxes : public MessageBoxes {
public:
    // parent: the window the boxes belong to; may be null.
    explicit QtMessageBoxes(QWidget *parent)
        : m_parent(parent)
    {
    }

    MessageAnswer show(const QString &prompt, MessageStyle style, const QString &title) override;

private:
    QWidget *m_parent;
};

// The prompt as the box shows it: a carriage return, alone or before a line
// feed, is a line break.
QString promptForDisplay(const QString &prompt);
