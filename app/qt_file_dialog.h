#pragma once
// The file dialog `Dialog`: a FileRequest shown as the desktop's open or save dialog, or Qt's own.

#include "user_interaction.h"

#include <QStringList>

class QWidget;

// The flag bits a FileRequest may carry.
inline constexpr int kFlagOverwritePrompt = 0x2;
inline constexpr int kFlagHideReadOnly = 0x4;
inline constexpr int kFlagPathMustExist = 0x800;
inline constexpr int kFlagFileMustExist = 0x1000;

class QtFileDialog : public FileRequester {
public:
    // parent: the window the dialog is modal to; may be null.
    explicit QtFileDialog(QWidget *parent)
        : m_parent(parent)
    {
    }

    // The chosen absolute path; throws cancelledByPerson() on Cancel.
    QString show(const FileRequest &request, FileRequestKind kind) override;

private:
    QWidget *m_parent;
};

// "description|pattern|..." as QFileDialog name filters "description (p1 p2)",
// patterns split at ';' and "*.*" widened to "*" so names without a dot match.
QStringList nameFiltersFor(const QString &filter);
