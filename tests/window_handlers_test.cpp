// The five click handlers through scripted seams: prompts, answers, jobs and
// the text conversion.

#include "conversion_library.h"
#include "frm_main.h"
#include "printable_text_box.h"
#include "window_scripted.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Returns one fixed path, as the person choosing a file.
class ChoosingDialog : public FileRequester {
public:
    explicit ChoosingDialog(QString path) : m_path(std::move(path)) {}
    QList<ShownRequest> shown;

    QString show(const FileRequest &request, FileRequestKind kind) override
    {
        shown.append({request, kind});
        return m_path;
    }

private:
    QString m_path;
};

struct ClickCase {
    const char *name;
    void (FrmMain::*handler)();
    const char *prompt; // joined by hand from the form's pieces
    const char *title;
    const char *openTitle;
    const char *openFilter;
};

const ClickCase kClicks[] = {
    {"cmdConverti_Click", &FrmMain::cmdConverti_Click,
     "Il file codificato verrà salvato nella stessa cartella del file selezionato con "
     "l'aggiunta dell'estensione .m64. Si desidera procedere?",
     "Conversione Mime64", "Selezionare il file da convertire...", "Tutti i file (*.*)|*.*"},
    {"cmdDecifra_Click", &FrmMain::cmdDecifra_Click,
     "Il file selezionato in formato Mime64 verrà  decodificato e salvato in un altro file il "
     "cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
     "Conversione Mime64", "Selezionare il file in formato M64 da decodificare...",
     "Codifica M64 (*.m64)|*.m64"},
    {"cmdConvPrintable_Click", &FrmMain::cmdConvPrintable_Click,
     "Il file codificato verrà salvato nella stessa cartella del file selezionato con "
     "l'aggiunta dell'estensione .ptb. Si desidera procedere?",
     "Codifica Printable", "Selezione del file da codificare...",
     "File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*"},
    {"cmdDecPrintable_Click", &FrmMain::cmdDecPrintable_Click,
     "Il file selezionato in formato Printable verrà  decodificato e salvato in un altro file "
     "il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera "
     "procedere?",
     "Conversione Printable", "Seleziona il file da decodificare...",
     "Codifica Printable (*.ptb)|*.ptb"},
};

class WindowHandlers : public ::testing::Test {
protected:
    void SetUp() override { window.setInteraction(dialog, messages); }

    // Types text into the upper box as the person would, then clicks the button.
    QString convertTyped(const QString &typed)
    {
        window.txtTesto->setPlainText(typed);
        window.cmdPrintable_Click();
        return window.txtConversione->printableText();
    }

    ScriptedMessages messages;
    CancellingDialog dialog;
    FrmMain window;
};

} // namespace

TEST_F(WindowHandlers, FileHandlersAskExactlyAndStopOnNo)
{
    for (const ClickCase &click : kClicks) {
        SCOPED_TRACE(click.name);
        messages.shown.clear();
        dialog.shown.clear();
        messages.answers = {MessageAnswer::No};
        (window.*click.handler)();
        ASSERT_EQ(messages.shown.size(), 1);
        EXPECT_EQ(messages.shown.first().prompt, QString::fromUtf8(click.prompt));
        EXPECT_EQ(messages.shown.first().title, QString::fromUtf8(click.title));
        EXPECT_EQ(messages.shown.first().style, MessageStyle::YesNoQuestion);
        EXPECT_TRUE(dialog.shown.isEmpty()) << "the job ran after No";
    }
}

TEST_F(WindowHandlers, FileHandlersRunTheirJobOnYes)
{
    for (const ClickCase &click : kClicks) {
        SCOPED_TRACE(click.name);
        messages.shown.clear();
        dialog.shown.clear();
        messages.answers = {MessageAnswer::Yes};
        (window.*click.handler)();
        ASSERT_EQ(dialog.shown.size(), 1);
        const FileRequest &request = dialog.shown.first().request;
        EXPECT_EQ(dialog.shown.first().kind, FileRequestKind::Open);
        EXPECT_EQ(request.dialogTitle, QString::fromUtf8(click.openTitle));
        EXPECT_EQ(request.filter, QString::fromUtf8(click.openFilter));
        EXPECT_EQ(request.flags, 4100);
        EXPECT_TRUE(request.cancelError);
        EXPECT_TRUE(request.fileName.isEmpty());
        // The cancel ends the job silently: only the question was shown.
        EXPECT_EQ(messages.shown.size(), 1);
    }
}

TEST_F(WindowHandlers, ButtonsRunTheirOwnHandlers)
{
    const struct {
        QPushButton *button;
        const char *title;
    } cases[] = {{window.cmdConverti, "Conversione Mime64"},
                 {window.cmdDecifra, "Conversione Mime64"},
                 {window.cmdConvPrintable, "Codifica Printable"},
                 {window.cmdDecPrintable, "Conversione Printable"}};
    for (const auto &item : cases) {
        messages.shown.clear();
        item.button->click();
        ASSERT_EQ(messages.shown.size(), 1);
        EXPECT_EQ(messages.shown.first().title, QString::fromUtf8(item.title));
    }
    // The Mime64 pair differ in their prompts though they share a title.
    messages.shown.clear();
    window.cmdConverti->click();
    window.cmdDecifra->click();
    ASSERT_EQ(messages.shown.size(), 2);
    EXPECT_TRUE(messages.shown.at(0).prompt.contains(QStringLiteral(".m64")));
    EXPECT_TRUE(messages.shown.at(1).prompt.contains(QLatin1Char('\r')));

    messages.shown.clear();
    window.txtTesto->setPlainText(QStringLiteral("a=b"));
    window.cmdPrintable->click();
    EXPECT_TRUE(messages.shown.isEmpty()) << "no confirmation before the text conversion";
    EXPECT_EQ(window.txtConversione->printableText(), QStringLiteral("a=3Db"));
}

TEST_F(WindowHandlers, ConfirmedEncodingWritesTheFileBesideItsSource)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString source = folder.filePath(QStringLiteral("lettera.txt"));
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hello");
    file.close();

    ChoosingDialog chooser(source);
    window.setInteraction(chooser, messages);
    messages.answers = {MessageAnswer::Yes};
    window.cmdConverti->click();

    QFile encoded(source + QStringLiteral(".m64"));
    ASSERT_TRUE(encoded.open(QIODevice::ReadOnly));
    // RFC 4648: "hello" is "aGVsbG8="; each line ends in CR LF.
    EXPECT_EQ(encoded.readAll(), QByteArray("aGVsbG8=\r\n"));
    ASSERT_EQ(messages.shown.size(), 2);
    EXPECT_EQ(messages.shown.at(1).style, MessageStyle::Information);
    EXPECT_EQ(messages.shown.at(1).title, QStringLiteral("Conversione"));
    EXPECT_EQ(messages.shown.at(1).prompt,
              (source + QStringLiteral(".m64")).toUpper()
                  + QStringLiteral(": Conversione eseguita correttamente."));
}

TEST_F(WindowHandlers, TextConversionFollowsQuotedPrintable)
{
    // Expected forms from RFC 2045 section 6.7 on the UTF-8 bytes of the text.
    EXPECT_EQ(convertTyped(QStringLiteral("a=b")), QStringLiteral("a=3Db"));
    EXPECT_EQ(convertTyped(QStringLiteral("Caffè")), QStringLiteral("Caff=C3=A8"));
    EXPECT_EQ(convertTyped(QStringLiteral("perché sì")), QStringLiteral("perch=C3=A9 s=C3=AC"));
    // Trailing blanks go before the conversion; leading ones and tabs stay.
    EXPECT_EQ(convertTyped(QStringLiteral("prova   ")), QStringLiteral("prova"));
    EXPECT_EQ(convertTyped(QStringLiteral("  prova")), QStringLiteral("  prova"));
    EXPECT_EQ(convertTyped(QStringLiteral("a\tb")), QStringLiteral("a\tb"));
    // A non-breaking blank is a character of its own, not a trailing blank.
    EXPECT_EQ(convertTyped(QStringLiteral("a\u00A0")), QStringLiteral("a=C2=A0"));
    // An empty box, or one of blanks only, gives the empty text.
    EXPECT_EQ(convertTyped(QString()), QString());
    EXPECT_EQ(convertTyped(QStringLiteral("    ")), QString());
    EXPECT_TRUE(window.txtConversione->toPlainText().isEmpty());
    // The upper box is left as typed.
    EXPECT_EQ(window.txtTesto->toPlainText(), QStringLiteral("    "));
}

TEST_F(WindowHandlers, LineBreaksTravelAsCrLfAndShowAsLineBreaks)
{
    // A trailing line break stays: it is not a blank.
    EXPECT_EQ(convertTyped(QStringLiteral("riga uno\n")), QStringLiteral("riga uno\r\n"));
    EXPECT_EQ(convertTyped(QStringLiteral("uno\ndue")), QStringLiteral("uno\r\ndue"));
    EXPECT_EQ(window.txtConversione->toPlainText(), QStringLiteral("uno\ndue"));
    EXPECT_EQ(window.txtConversione->document()->blockCount(), 2);
    EXPECT_FALSE(window.txtConversione->toPlainText().contains(QLatin1Char('\r')));

    // Blanks ending an inner line must be encoded so no line ends in a blank.
    const QString result = convertTyped(QStringLiteral("a  \nb"));
    for (const QString &line : result.split(QStringLiteral("\r\n"))) {
        EXPECT_FALSE(line.endsWith(QLatin1Char(' ')) || line.endsWith(QLatin1Char('\t')))
            << line.toStdString();
    }
    EXPECT_TRUE(result.endsWith(QStringLiteral("\r\nb")));
}

TEST_F(WindowHandlers, LongLinesAreSoftBrokenAndRejoinExactly)
{
    const QString typed = QString(200, QLatin1Char('x'));
    const QString result = convertTyped(typed);
    const QStringList lines = result.split(QStringLiteral("\r\n"));
    ASSERT_GT(lines.size(), 1);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines.at(i).size(), 76);
        if (i + 1 < lines.size()) {
            EXPECT_TRUE(lines.at(i).endsWith(QLatin1Char('='))) << "soft break expected";
        }
    }
    QString rejoined = result;
    rejoined.remove(QStringLiteral("=\r\n"));
    EXPECT_EQ(rejoined, typed);
    EXPECT_EQ(window.txtConversione->document()->blockCount(), lines.size());
}

TEST_F(WindowHandlers, ClickingTwiceGivesTheSameResult)
{
    window.txtTesto->setPlainText(QStringLiteral("Città   \nmare  "));
    window.cmdPrintable_Click();
    const QString once = window.txtConversione->printableText();
    const QString shownOnce = window.txtConversione->toPlainText();
    window.cmdPrintable_Click();
    EXPECT_EQ(window.txtConversione->printableText(), once);
    EXPECT_EQ(window.txtConversione->toPlainText(), shownOnce);
    EXPECT_FALSE(once.isEmpty());
}

TEST_F(WindowHandlers, CopyingFromTheLowerBoxGivesThePrintableText)
{
    const QString result = convertTyped(QStringLiteral("uno=1\ndue è\n"));
    EXPECT_EQ(result, QStringLiteral("uno=3D1\r\ndue =C3=A8\r\n"));

    window.txtConversione->selectAll();
    QApplication::clipboard()->clear();
    window.txtConversione->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), result);

    // A selection from inside the first line to inside the second keeps its CR LF.
    QTextCursor cursor = window.txtConversione->textCursor();
    cursor.setPosition(4);                              // after "uno="
    cursor.setPosition(11, QTextCursor::KeepAnchor);    // "3D1", break, "due"
    window.txtConversione->setTextCursor(cursor);
    window.txtConversione->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("3D1\r\ndue"));
}

TEST(WindowSpans, DisplayPositionsMapBackToTheText)
{
    const QString text = QStringLiteral("ab\r\ncd\re\nf\r\n");
    EXPECT_EQ(displayedForm(text), QStringLiteral("ab\ncd\re\nf\n"));
    // Every span of the displayed form maps to the text it came from: the
    // displayed span with each displayed line feed that stood for a CR LF
    // widened again. Checked against a hand-built position table.
    const int origin[] = {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 12}; // displayed index -> text index
    const qsizetype shownSize = displayedForm(text).size();
    ASSERT_EQ(shownSize + 1, qsizetype(std::size(origin)));
    for (qsizetype from = 0; from <= shownSize; ++from) {
        for (qsizetype to = from; to <= shownSize; ++to) {
            EXPECT_EQ(originalSpan(text, from, to), text.mid(origin[from], origin[to] - origin[from]))
                << from << ".." << to;
        }
    }
}

TEST_F(WindowHandlers, MissingLibraryIsReportedAndTheWindowCarriesOn)
{
    const QString before = convertTyped(QStringLiteral("prima"));
    EXPECT_EQ(before, QStringLiteral("prima"));

    ConversionLibrary missing(QStringLiteral("/nonexistent/libdravolin.so"));
    window.setLibrary(missing);
    messages.shown.clear();
    window.txtTesto->setPlainText(QStringLiteral("dopo"));
    window.cmdPrintable_Click();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_EQ(messages.shown.first().style, MessageStyle::Critical);
    EXPECT_EQ(messages.shown.first().title, QStringLiteral("Errore"));
    EXPECT_TRUE(messages.shown.first().prompt.contains(
        QRegularExpression(QStringLiteral("^[0-9]+: \\S"))))
        << messages.shown.first().prompt.toStdString();
    EXPECT_TRUE(messages.shown.first().prompt.contains(QStringLiteral("/nonexistent/libdravolin.so")));
    // The lower box keeps the last result; the upper one what was typed.
    EXPECT_EQ(window.txtConversione->printableText(), QStringLiteral("prima"));
    EXPECT_EQ(window.txtTesto->toPlainText(), QStringLiteral("dopo"));

    ConversionLibrary present;
    window.setLibrary(present);
    window.cmdPrintable_Click();
    EXPECT_EQ(window.txtConversione->printableText(), QStringLiteral("dopo"));
}

TEST(WindowLifetime, LoadMakesTheProgramFolderCurrent)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    FrmMain window;
    EXPECT_EQ(QDir(QDir::currentPath()).canonicalPath(),
              QDir(QCoreApplication::applicationDirPath()).canonicalPath());
}

TEST(WindowLifetime, ClosingTheWindowEndsTheProgram)
{
    FrmMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    bool timedOut = false;
    QTimer::singleShot(0, &window, &QWidget::close);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(99);
    });
    watchdog.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(timedOut);
    EXPECT_FALSE(window.isVisible());
}
