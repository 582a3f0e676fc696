// The five click handlers through the scripted person: the questions, the job
// each runs, and the text conversion.

#include "conversion_library.h"
#include "frm_main.h"
#include "printable_text_box.h"
#include "scripted_person.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>

#include <dlfcn.h>

namespace {

struct WindowHandlers : ::testing::Test {
    void SetUp() override { window.setInteraction(dialog, messages); }
    ScriptedMessages messages;
    ScriptedDialog dialog;
    FrmMain window;
};

} // namespace

TEST_F(WindowHandlers, EachFileButtonAsksExactlyAndRunsItsJobUnlessNo)
{
    const struct {
        QPushButton *button;
        const char *prompt, *title, *openTitle; // the prompt joined by hand from the form's pieces
    } clicks[] = {
        { window.cmdConverti,
          "Il file codificato verrà salvato nella stessa cartella del file selezionato con "
          "l'aggiunta dell'estensione .m64. Si desidera procedere?",
          "Conversione Mime64", "Selezionare il file da convertire..." },
        { window.cmdDecifra,
          "Il file selezionato in formato Mime64 verrà  decodificato e salvato in un altro file il "
          "cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
          "Conversione Mime64", "Selezionare il file in formato M64 da decodificare..." },
        { window.cmdConvPrintable,
          "Il file codificato verrà salvato nella stessa cartella del file selezionato con "
          "l'aggiunta dell'estensione .ptb. Si desidera procedere?",
          "Codifica Printable", "Selezione del file da codificare..." },
        { window.cmdDecPrintable,
          "Il file selezionato in formato Printable verrà  decodificato e salvato in un altro file "
          "il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
          "Conversione Printable", "Seleziona il file da decodificare..." },
    };
    for (const auto &click : clicks) {
        for (MessageAnswer answer : { MessageAnswer::No, MessageAnswer::Yes, MessageAnswer::Ok }) {
            SCOPED_TRACE(click.button->objectName().toStdString() + " answered " + std::to_string(int(answer)));
            messages.answers = { answer };
            if (answer != MessageAnswer::No)
                dialog.cancel(); // the cancel then ends the job without a word
            dialog.shown.clear();
            click.button->click();
            expectOnlyBox(messages, QString::fromUtf8(click.prompt), 36, click.title);
            ASSERT_EQ(dialog.shown.size(), answer == MessageAnswer::No ? 0u : 1u);
            EXPECT_TRUE(dialog.shown.empty()
                        || (dialog.shown.front().kind == FileRequestKind::Open
                            && dialog.shown.front().request.dialogTitle == click.openTitle));
        }
    }
}

TEST_F(WindowHandlers, TypedTextBecomesPrintableWithoutAskingTheSameOnEveryClick)
{
    // Expected forms from RFC 2045 section 6.7 on the UTF-8 bytes, as python3's quopri gives them.
    const std::pair<QString, QString> cases[] = {
        { "a=b", "a=3Db" },
        { "Caffè", "Caff=C3=A8" },
        { "perché sì", "perch=C3=A9 s=C3=AC" },
        { "", "" },
        { "    ", "" },
        { "prova   ", "prova" },
        { "  prova", "  prova" },
        { "a\tb", "a\tb" },
        { "a\t   ", "a=09" }, // trailing blanks go first; others stay
        { "a\u00A0", "a=C2=A0" }, // a non-breaking blank is no blank to trim
        { "riga uno\n", "riga uno\r\n" },
        { "uno\ndue", "uno\r\ndue" }, // a trailing line break stays
        { "Città   \nmare  ", "Citt=C3=A0  =20\r\nmare" }, // no line may end in a blank
        { QString(200, 'x'), QString(75, 'x') + "=\r\n" + QString(75, 'x') + "=\r\n" + QString(50, 'x') },
    };
    for (const auto &[typed, expected] : cases) {
        SCOPED_TRACE(typed.toStdString());
        window.txtTesto->setPlainText(typed);
        for (int click = 0; click < 2; ++click) {
            window.cmdPrintable->click();
            EXPECT_EQ(window.txtConversione->printableText(), expected);
            // Shown with its CR LF pairs as line breaks; the typed text stays.
            EXPECT_EQ(window.txtConversione->toPlainText(), QString(expected).replace("\r\n", "\n"));
            EXPECT_EQ(window.txtConversione->document()->blockCount(), expected.count("\r\n") + 1);
            EXPECT_EQ(window.txtTesto->toPlainText(),
                      QString(typed).replace(QChar(0xA0), ' ')); // as plain text shows it
        }
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(WindowHandlers, CopyingFromTheLowerBoxGivesThePrintableTextWithItsCrLf)
{
    window.txtTesto->setPlainText("uno=1\ndue è\n");
    window.cmdPrintable->click();
    window.txtConversione->selectAll();
    window.txtConversione->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), "uno=3D1\r\ndue =C3=A8\r\n");
    QTextCursor cursor = window.txtConversione->textCursor();
    cursor.setPosition(4); // after "uno="
    cursor.setPosition(11, QTextCursor::KeepAnchor); // "3D1", break, "due"
    window.txtConversione->setTextCursor(cursor);
    window.txtConversione->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), "3D1\r\ndue");
}

TEST(WindowSpans, EveryDisplayedSpanMapsBackToTheTextItShows)
{
    const QString text = "ab\r\ncd\re\nf\r\n";
    EXPECT_EQ(displayedForm(text), "ab\ncd\re\nf\n");
    const int origin[] = { 0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 12 }; // displayed index -> text index, by hand
    for (int from = 0; from < int(std::size(origin)); ++from)
        for (int to = from; to < int(std::size(origin)); ++to)
            EXPECT_EQ(originalSpan(text, from, to), text.mid(origin[from], origin[to] - origin[from]))
                << from << ".." << to;
}

TEST_F(WindowHandlers, AMissingLibraryIsReportedAndTheWindowCarriesOn)
{
    ConversionLibrary missing(QStringLiteral("/nonexistent/libdravolin.so"));
    window.txtTesto->setPlainText("prima");
    window.cmdPrintable->click();
    window.setLibrary(missing);
    window.txtTesto->setPlainText("dopo");
    window.cmdPrintable->click();
    ASSERT_EQ(::dlopen("/nonexistent/libdravolin.so", RTLD_NOW), nullptr);
    const QString loaderWords = QString::fromLocal8Bit(::dlerror());
    expectOnlyBox(messages,
                  "1006: Impossibile caricare la libreria di conversione /nonexistent/libdravolin.so: " + loaderWords,
                  16, "Errore");
    // The lower box keeps the last result; the upper one what was typed.
    EXPECT_TRUE(window.txtConversione->printableText() == "prima" && window.txtTesto->toPlainText() == "dopo");
    ConversionLibrary present;
    window.setLibrary(present);
    window.cmdPrintable->click();
    EXPECT_EQ(window.txtConversione->printableText(), "dopo");
}

TEST(WindowLifetime, LoadMakesTheProgramFolderCurrent)
{
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    FrmMain window;
    EXPECT_EQ(QDir(QDir::currentPath()).canonicalPath(), QDir(QCoreApplication::applicationDirPath()).canonicalPath());
}
