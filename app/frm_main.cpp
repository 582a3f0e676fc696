#include "frm_main.h"

#include "conversion_library.h"
#include "file_drop.h"
#include "file_jobs.h"
#include "printable_text_box.h"
#include "texts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>

namespace {

// Enter on a focused button clicks it, as Space does; Qt leaves Enter to default buttons, and this
// window has none.
class EnterClicksButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return QObject::eventFilter(watched, event);
        // A held Enter must not click again: its repeats would reach the question box and answer
        // it for the person.
        if (!key->isAutoRepeat())
            static_cast<QPushButton *>(watched)->click();
        return true;
    }
};

QPushButton *makeButton(QWidget *parent, const char *name, Text caption, const QRect &geometry)
{
    auto *button = new QPushButton(text(caption), parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QGroupBox *makeFrame(QWidget *parent, const char *name, Text caption, const QRect &geometry)
{
    auto *frame = new QGroupBox(text(caption), parent);
    frame->setObjectName(QLatin1String(name));
    frame->setGeometry(geometry);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

template <typename Box> Box *makeTextBox(QWidget *parent, const char *name, Text accessibleName, const QRect &geometry)
{
    auto *box = new Box(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(text(accessibleName));
    box->setGeometry(geometry);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setTabChangesFocus(true);
    box->setFocusPolicy(Qt::StrongFocus);
    return box;
}

} // namespace

FrmMain::FrmMain(QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                  | Qt::MSWindowsFixedSizeDialogHint)
    , Dialog(this)
    , m_ownMessages(this)
    , m_ownWork(this)
    , m_ownLibrary(std::make_unique<ConversionLibrary>())
    , m_dialog(&Dialog)
    , m_messages(&m_ownMessages)
    , m_library(m_ownLibrary.get())
{
    makeRunner();
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(text(Text::WindowTitle));
    setFixedSize(575, 279);
    // A tool window does not end the program on closing by default; this one is the whole program.
    setAttribute(Qt::WA_QuitOnClose, true);

    createControls();
    arrangeTabOrder();
    connectHandlers();
    acceptFileDrops();
    txtTesto->setFocus(Qt::OtherFocusReason);
    centreOnScreen();
    Form_Load();
}

FrmMain::~FrmMain() = default;

void FrmMain::setInteraction(FileRequester &dialog, MessageBoxes &messages)
{
    m_dialog = &dialog;
    m_messages = &messages;
    makeRunner();
}

void FrmMain::setLibrary(ConversionLibrary &library)
{
    m_library = &library;
    makeRunner();
}

void FrmMain::makeRunner()
{
    m_runner.emplace(*m_dialog, *m_messages, m_ownWork, *m_library);
}

void FrmMain::createControls()
{
    // In this order, so that the controls stack as designed; positions inside a frame are the frame's.
    Frame2 = makeFrame(this, "Frame2", Text::PrintableFrameCaption, { 21, 162, 253, 85 });
    cmdConvPrintable = makeButton(Frame2, "cmdConvPrintable", Text::EncodeCaption, { 33, 27, 81, 33 });
    cmdDecPrintable = makeButton(Frame2, "cmdDecPrintable", Text::DecodeCaption, { 141, 27, 81, 33 });
    txtConversione
        = makeTextBox<PrintableTextBox>(this, "txtConversione", Text::ConvertedTextName, { 291, 159, 281, 115 });
    Frame1 = makeFrame(this, "Frame1", Text::Mime64FrameCaption, { 21, 27, 256, 85 });
    cmdDecifra = makeButton(Frame1, "cmdDecifra", Text::DecodeCaption, { 144, 30, 81, 33 });
    cmdConverti = makeButton(Frame1, "cmdConverti", Text::EncodeCaption, { 36, 30, 81, 33 });
    cmdPrintable = makeButton(this, "cmdPrintable", Text::TypedConversionCaption, { 291, 126, 281, 33 });
    txtTesto = makeTextBox<QPlainTextEdit>(this, "txtTesto", Text::TypedTextName, { 291, 9, 281, 115 });

    txtConversione->setReadOnly(true);
    txtConversione->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPalette buttonFace = txtConversione->palette();
    buttonFace.setColor(QPalette::Base, buttonFace.color(QPalette::Button));
    txtConversione->setPalette(buttonFace);

    auto *enterClicks = new EnterClicksButton(this);
    for (QPushButton *button : { cmdConvPrintable, cmdDecPrintable, cmdDecifra, cmdConverti, cmdPrintable })
        button->installEventFilter(enterClicks);
}

void FrmMain::arrangeTabOrder()
{
    QWidget *const order[] = { txtTesto,       cmdPrintable,    cmdConverti,      cmdDecifra,
                               txtConversione, cmdDecPrintable, cmdConvPrintable, txtTesto };
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void FrmMain::connectHandlers()
{
    connect(cmdConverti, &QPushButton::clicked, this, &FrmMain::cmdConverti_Click);
    connect(cmdDecifra, &QPushButton::clicked, this, &FrmMain::cmdDecifra_Click);
    connect(cmdConvPrintable, &QPushButton::clicked, this, &FrmMain::cmdConvPrintable_Click);
    connect(cmdDecPrintable, &QPushButton::clicked, this, &FrmMain::cmdDecPrintable_Click);
    connect(cmdPrintable, &QPushButton::clicked, this, &FrmMain::cmdPrintable_Click);
}

void FrmMain::acceptFileDrops()
{
    const std::pair<QPushButton *, const FileJob *> targets[] = {
        { cmdConverti, &ConvertiFileMime64 },
        { cmdDecifra, &DecifraFileMime64 },
        { cmdConvPrintable, &ConvertiFilePrintable },
        { cmdDecPrintable, &DecifraFilePrintable },
    };
    for (const auto &[button, job] : targets)
        new FileDrop(
            button, [this] { return !m_jobRunning; },
            [this, job = job](const QString &file) { startFileJob(*job, file); });
}

void FrmMain::centreOnScreen()
{
    const QScreen *where = screen();
    if (where == nullptr)
        return;
    QRect placed(QPoint(0, 0), size());
    placed.moveCenter(where->availableGeometry().center());
    move(placed.topLeft());
}

void FrmMain::Form_Load()
{
    RipristinaCartella();
}

QStringList FrmMain::openFiles(const QStringList &paths)
{
    QStringList refused;
    std::vector<std::pair<const FileJob *, QString>> jobs;
    for (const QString &path : paths) {
        if (path.endsWith(QLatin1String(".m64"), Qt::CaseInsensitive))
            jobs.emplace_back(&DecifraFileMime64, QFileInfo(path).absoluteFilePath());
        else if (path.endsWith(QLatin1String(".ptb"), Qt::CaseInsensitive))
            jobs.emplace_back(&DecifraFilePrintable, QFileInfo(path).absoluteFilePath());
        else
            refused << path;
    }
    // One after another, once the window is up: a job keeps the window live, and a second one
    // started meanwhile would be turned away.
    QMetaObject::invokeMethod(
        this,
        [this, jobs] {
            for (const auto &[job, file] : jobs)
                startFileJob(*job, file);
        },
        Qt::QueuedConnection);
    return refused;
}

void FrmMain::startFileJob(const FileJob &job, const QString &input)
{
    // The window stays live while a job works: nothing else starts meanwhile.
    if (m_jobRunning)
        return;
    m_jobRunning = true;
    // A file dropped or named is where the person works, even if they then answer No.
    if (!input.isEmpty())
        m_runner->rememberInput(input);
    if (m_runner->confirmed(job))
        m_runner->run(job, input);
    m_jobRunning = false;
    if (m_closeAfterJob)
        close();
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    if (!m_jobRunning)
        return QWidget::closeEvent(event);
    // The job stops at its next step, leaving nothing written; the window closes after it.
    m_closeAfterJob = true;
    m_ownWork.cancel();
    event->ignore();
}

void FrmMain::closeDialogsAndWindow()
{
    // Innermost first, as a dialog may open a box of its own; one that will not close (a box
    // without a button for Escape) is left to the person.
    for (QWidget *modal = nullptr, *last = nullptr;
         (modal = QApplication::activeModalWidget()) != nullptr && modal != last;)
        last = modal, modal->close();
    close();
}

void FrmMain::cmdConverti_Click()
{
    startFileJob(ConvertiFileMime64);
}

void FrmMain::cmdConvPrintable_Click()
{
    startFileJob(ConvertiFilePrintable);
}

void FrmMain::cmdDecifra_Click()
{
    startFileJob(DecifraFileMime64);
}

void FrmMain::cmdDecPrintable_Click()
{
    startFileJob(DecifraFilePrintable);
}

void FrmMain::cmdPrintable_Click()
{
    if (m_jobRunning)
        return;
    if (const std::optional<QString> printable = m_runner->printableFormOfTyped(typedText()))
        txtConversione->setPrintableText(*printable);
}

QString FrmMain::typedText() const
{
    // A text box's text carries CR LF line breaks, the form Printable's hard line breaks take.
    // toPlainText() is avoided: it turns non-breaking blanks into plain ones, which the conversion
    // would then trim or encode wrongly.
    QString text = txtTesto->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    text.replace(QChar::LineSeparator, QLatin1String("\r\n"));
    return text;
}
