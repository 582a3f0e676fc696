#include "qt_file_dialog.h"

#include "job_errors.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>

namespace {

// QFileDialog lets a save name in a missing folder through; the request may
// demand that the folder exist, as the open mode demands the file.
class RequestDialog : public QFileDialog {
public:
    RequestDialog(QWidget *parent, const QString &caption, bool pathMustExist)
        : QFileDialog(parent, caption)
        , m_pathMustExist(pathMustExist)
    {
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (m_pathMustExist && !files.isEmpty()) {
            const QFileInfo chosen(files.first());
            if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
                // Qt's own words, so its Italian translation applies.
                QMessageBox::warning(this, windowTitle(),
                                     QFileDialog::tr("%1\nDirectory not found.\nPlease verify the "
                                                     "correct directory name was given.")
                                         .arg(chosen.absolutePath()));
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    bool m_pathMustExist;
};

// Opens the dialog large enough that names, sizes, types and dates show whole.
void showWholeColumns(QFileDialog &dialog)
{
    const QFontMetrics metrics = dialog.fontMetrics();
    dialog.resize(metrics.averageCharWidth() * 150, metrics.height() * 30);
    if (auto *details = dialog.findChild<QTreeView *>()) {
        details->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < details->header()->count(); ++column)
            details->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
}

} // namespace

QStringList nameFiltersFor(const QString &filter)
{
    QStringList filters;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &pattern : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = pattern.trimmed();
            if (!trimmed.isEmpty())
                patterns << (trimmed == QLatin1String("*.*") ? QStringLiteral("*") : trimmed);
        }
        if (patterns.isEmpty())
            patterns << QStringLiteral("*");
        // The dialog hides the bracket we add, leaving the description as written.
        filters << parts.at(i) + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

QString QtFileDialog::show(const FileRequest &request, FileRequestKind kind)
{
    RequestDialog dialog(m_parent, request.dialogTitle,
                         kind == FileRequestKind::Save && (request.flags & kFlagPathMustExist) != 0);
    // The desktop's own dialog where the platform offers one, with the person's bookmarks and
    // recent files; Qt's own otherwise, showing each description exactly as written.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    // Always set: Qt's own dialog would otherwise open where the last one was left.
    dialog.setDirectory(request.startFolder.isEmpty() ? QDir::homePath() : request.startFolder);
    if (kind == FileRequestKind::Open) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode((request.flags & kFlagFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                                     : QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, (request.flags & kFlagOverwritePrompt) == 0);
    }
    const QStringList filters = nameFiltersFor(request.filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    showWholeColumns(dialog);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        if (request.cancelError)
            throw cancelledByPerson();
        return QString();
    }
    return QDir::toNativeSeparators(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath());
}
