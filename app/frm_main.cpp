#include "frm_main.h"

#include "conversion_jobs.h"
#include "conversion_library.h"
#include "job_frame.h"
#include "printable_text_box.h"

#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>

namespace {

// The form is designed in twips; 15 twips make one device-independent pixel.
constexpr int kTwipsPerPixel = 15;

constexpr int px(int twips)
{
    return twips / kTwipsPerPixel;
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

const QString kCaption = QStringLiteral("Ostrevo di utilizzo di Dravolin.dll");
constexpr int kClientWidthTwips = 8625;
constexpr int kClientHeightTwips = 4185;

// Enter on a focused button clicks it, as Space does; Qt leaves Enter to
// default buttons, and this window has none.
class EnterClicksButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // A held Enter must not click again: its repeats would reach the
            // question box and answer it for the person.
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                if (key->isAutoRepeat())
                    return true;
                if (auto *button = qobject_cast<QPushButton *>(watched)) {
                    button->click();
                    return true;
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &caption, const QRect &geometry)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

QGroupBox *makeFrame(QWidget *parent, const QString &name, const QString &caption, const QRect &geometry)
{
    auto *frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    frame->setGeometry(geometry);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

void makeTextBox(QPlainTextEdit *box, const QString &name, const QString &accessibleName, const QRect &geometry)
{
    box->setObjectName(name);
    box->setAccessibleName(accessibleName);
    box->setGeometry(geometry);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setTabChangesFocus(true);
    box->setFocusPolicy(Qt::StrongFocus);
}

} // namespace

FrmMain::FrmMain(QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                  | Qt::MSWindowsFixedSizeDialogHint)
    , Dialog(this)
    , m_ownMessages(this)
    , m_ownLibrary(std::make_unique<ConversionLibrary>())
    , m_dialog(&Dialog)
    , m_messages(&m_ownMessages)
    , m_library(m_ownLibrary.get())
{
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(kCaption);
    setFixedSize(px(kClientWidthTwips), px(kClientHeightTwips));
    // A tool window does not end the program on closing by default; this one
    // is the whole program.
    setAttribute(Qt::WA_QuitOnClose, true);

    createControls();
    arrangeTabOrder();
    connectHandlers();
    txtTesto->setFocus(Qt::OtherFocusReason);
    centreOnScreen();
    Form_Load();
}

FrmMain::~FrmMain() = default;

void FrmMain::setInteraction(FileRequester &dialog, MessageBoxes &messages)
{
    m_dialog = &dialog;
    m_messages = &messages;
}

void FrmMain::setLibrary(ConversionLibrary &library)
{
    m_library = &library;
}

void FrmMain::createControls()
{
    // Creation order as on the form.
    Frame2 = makeFrame(this, QStringLiteral("Frame2"), QStringLiteral("Codifica Printable"),
                       twipsRect(315, 2430, 3795, 1275));
    cmdConvPrintable = makeButton(Frame2, QStringLiteral("cmdConvPrintable"), QStringLiteral("Converti"),
                                  twipsRect(495, 405, 1215, 495));
    cmdDecPrintable = makeButton(Frame2, QStringLiteral("cmdDecPrintable"), QStringLiteral("Decodifica"),
                                 twipsRect(2115, 405, 1215, 495));

    txtConversione = new PrintableTextBox(this);
    makeTextBox(txtConversione, QStringLiteral("txtConversione"), QStringLiteral("Testo convertito in Printable"),
                twipsRect(4365, 2385, 4215, 1725));
    txtConversione->setReadOnly(true);
    txtConversione->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPalette buttonFace = txtConversione->palette();
    buttonFace.setColor(QPalette::Base, buttonFace.color(QPalette::Button));
    txtConversione->setPalette(buttonFace);

    Frame1
        = makeFrame(this, QStringLiteral("Frame1"), QStringLiteral("Codifica Mime64"), twipsRect(315, 405, 3840, 1275));
    cmdDecifra = makeButton(Frame1, QStringLiteral("cmdDecifra"), QStringLiteral("Decodifica"),
                            twipsRect(2160, 450, 1215, 495));
    cmdConverti
        = makeButton(Frame1, QStringLiteral("cmdConverti"), QStringLiteral("Converti"), twipsRect(540, 450, 1215, 495));

    cmdPrintable = makeButton(this, QStringLiteral("cmdPrintable"), QStringLiteral("Cod. Printable"),
                              twipsRect(4365, 1890, 4215, 495));

    txtTesto = new QPlainTextEdit(this);
    makeTextBox(txtTesto, QStringLiteral("txtTesto"), QStringLiteral("Testo da convertire"),
                twipsRect(4365, 135, 4215, 1725));

    auto *enterClicks = new EnterClicksButton(this);
    for (QPushButton *button : { cmdConvPrintable, cmdDecPrintable, cmdDecifra, cmdConverti, cmdPrintable })
        button->installEventFilter(enterClicks);
}

void FrmMain::arrangeTabOrder()
{
    QWidget *const order[] = { txtTesto,       cmdPrintable,    cmdConverti,      cmdDecifra,
                               txtConversione, cmdDecPrintable, cmdConvPrintable, txtTesto };
    for (size_t i = 0; i + 1 < std::size(order); ++i)
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

bool FrmMain::confirmed(const QString &prompt, const QString &title)
{
    return m_messages->show(prompt, MessageStyle::YesNoQuestion, title) != MessageAnswer::No;
}

JobContext FrmMain::jobContext()
{
    return JobContext { *m_dialog, *m_messages, *m_library };
}

void FrmMain::cmdConverti_Click()
{
    const QString prompt = QStringLiteral("Il file codificato verrà salvato nella ")
        + QStringLiteral("stessa cartella del file selezionato con ")
        + QStringLiteral("l'aggiunta dell'estensione .m64. Si desidera procedere?");
    if (!confirmed(prompt, QStringLiteral("Conversione Mime64")))
        return;
    JobContext context = jobContext();
    ConvertiFileMime64(context);
}

void FrmMain::cmdConvPrintable_Click()
{
    const QString prompt = QStringLiteral("Il file codificato verrà salvato nella stessa ")
        + QStringLiteral("cartella del file selezionato con l'aggiunta ")
        + QStringLiteral("dell'estensione .ptb. Si desidera procedere?");
    if (!confirmed(prompt, QStringLiteral("Codifica Printable")))
        return;
    JobContext context = jobContext();
    ConvertiFilePrintable(context);
}

void FrmMain::cmdDecifra_Click()
{
    const QString prompt = QStringLiteral("Il file selezionato in formato Mime64 verrà ")
        + QStringLiteral(" decodificato e salvato in un altro file il ")
        + QStringLiteral("cui filename verrà specificato in un'apposita ") + QStringLiteral("finestra di dialogo. ")
        + QStringLiteral("\r") + QStringLiteral("Si desidera procedere?");
    if (!confirmed(prompt, QStringLiteral("Conversione Mime64")))
        return;
    JobContext context = jobContext();
    DecifraFileMime64(context);
}

void FrmMain::cmdDecPrintable_Click()
{
    const QString prompt = QStringLiteral("Il file selezionato in formato Printable verrà ")
        + QStringLiteral(" decodificato e salvato in un altro file il cui filename ")
        + QStringLiteral("verrà specificato in un'apposita finestra di dialogo. ") + QStringLiteral("\r")
        + QStringLiteral("Si desidera procedere?");
    if (!confirmed(prompt, QStringLiteral("Conversione Printable")))
        return;
    JobContext context = jobContext();
    DecifraFilePrintable(context);
}

void FrmMain::cmdPrintable_Click()
{
    // No frame of its own in the design; a failing library is reported like a
    // job's failure and the window carries on.
    runJob(*m_messages, [this] { txtConversione->setPrintableText(printableFormOfTyped(*m_library, typedText())); });
}

QString FrmMain::typedText() const
{
    // A text box's text carries CR LF line breaks, the form Printable's hard
    // line breaks take. toPlainText() is avoided: it turns non-breaking blanks
    // into plain ones, which the conversion would then trim or encode wrongly.
    QString text = txtTesto->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    text.replace(QChar::LineSeparator, QLatin1String("\r\n"));
    return text;
}
