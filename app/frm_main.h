#pragma once
// FrmMain, the program's one window: its controls laid out as designed, the
// file dialog and message boxes it owns, and the five click handlers.

#include "qt_file_dialog.h"
#include "qt_message_boxes.h"

#include <QWidget>

#include <memory>

class ConversionLibrary;
class FileRequester;
class MessageBoxes;
class PrintableTextBox;
class QGroupBox;
class QPlainTextEdit;
class QPushButton;
struct JobContext;

class FrmMain : public QWidget {
    Q_OBJECT

public:
    explicit FrmMain(QWidget *parent = nullptr);
    ~FrmMain() override;

    // Tests script the person: the jobs then ask these instead of Dialog and
    // the window's own boxes. Borrowed, not owned; they must outlive the window.
    void setInteraction(FileRequester &dialog, MessageBoxes &messages);
    // Tests may give their own library; borrowed, as above.
    void setLibrary(ConversionLibrary &library);

    // The controls, named as on the form; owned by the window.
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

private:
    void Form_Load();
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    void centreOnScreen();
    // Asks prompt under title (Yes/No); true unless the answer is No.
    bool confirmed(const QString &prompt, const QString &title);
    JobContext jobContext();
    // txtTesto's text as typed: non-breaking blanks kept, line breaks as CR LF.
    QString typedText() const;

    QtMessageBoxes m_ownMessages;
    std::unique_ptr<ConversionLibrary> m_ownLibrary;
    FileRequester *m_dialog;
    MessageBoxes *m_messages;
    ConversionLibrary *m_library;
};
