#pragma once
// FrmMain, the program's one window: its controls, the file dialog, message boxes and work runner
// it owns, and the five click handlers.

#include "file_jobs.h"
#include "qt_file_dialog.h"
#include "qt_message_boxes.h"
#include "qt_work_runner.h"

#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>

class ConversionLibrary;
class PrintableTextBox;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;

class FrmMain : public QWidget {
    Q_OBJECT

public:
    explicit FrmMain(QWidget *parent = nullptr);
    ~FrmMain() override;

    // Tests script the person: the jobs then ask these instead of the window's own dialog and
    // boxes. Borrowed, not owned; they must outlive the window. Either call starts a fresh runner,
    // whose dialogs start in the home folder again.
    void setInteraction(FileRequester &dialog, MessageBoxes &messages);
    void setLibrary(ConversionLibrary &library);

    // Decodes each file named at start-up, one after another, as if dropped on its kind's
    // "Decodifica"; returns the arguments that name no such file.
    QStringList openFiles(const QStringList &paths);
    // True while a job runs: nothing else may start meanwhile.
    bool jobRunning() const { return m_jobRunning; }
    // Closes the window as its close button does, answering first any dialog that waits as
    // Escape would: a job stops, leaving nothing written, and the window closes after it.
    void closeDialogsAndWindow();

    // The controls, owned by the window.
    QGroupBox *Frame2 = nullptr;
    QPushButton *cmdConvPrintable = nullptr;
    QPushButton *cmdDecPrintable = nullptr;
    PrintableTextBox *txtConversione = nullptr;
    QGroupBox *Frame1 = nullptr;
    QPushButton *cmdDecifra = nullptr;
    QPushButton *cmdConverti = nullptr;
    QPushButton *cmdPrintable = nullptr;
    QPlainTextEdit *txtTesto = nullptr;
    // The file dialog every file job asks through.
    QtFileDialog Dialog;

public slots:
    void cmdConverti_Click();
    void cmdConvPrintable_Click();
    void cmdDecifra_Click();
    void cmdDecPrintable_Click();
    void cmdPrintable_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    void acceptFileDrops();
    void centreOnScreen();
    void makeRunner();
    // Confirms job, then runs it: with input as its file, or asking for one.
    void startFileJob(const FileJob &job, const QString &input = {});
    // txtTesto's text as typed: non-breaking blanks kept, line breaks as CR LF.
    QString typedText() const;

    QtMessageBoxes m_ownMessages;
    QtWorkRunner m_ownWork;
    std::unique_ptr<ConversionLibrary> m_ownLibrary;
    FileRequester *m_dialog;
    MessageBoxes *m_messages;
    ConversionLibrary *m_library;
    // One for the whole run, so that each dialog starts in the folder of the last input.
    std::optional<JobRunner> m_runner;
    bool m_jobRunning = false;
    bool m_closeAfterJob = false;
};
