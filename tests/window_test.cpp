// The window as a person meets it: its layout, tab order and every text it shows, written out here
// once, compared with what the running window and its jobs show; keys, the typed text, drops and
// files named at start-up.

#include "conversion_library.h"
#include "file_drop.h"
#include "frm_main.h"
#include "printable_text_box.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

struct Control {
    const char *name, *container, *caption; // a text box's caption is its accessible name
    QRect geometry;
};
const Control kLayout[] = {
    { "Frame2", "FrmMain", "Codifica Printable", { 21, 162, 253, 85 } },
    { "cmdConvPrintable", "Frame2", "Converti", { 33, 27, 81, 33 } },
    { "cmdDecPrintable", "Frame2", "Decodifica", { 141, 27, 81, 33 } },
    { "txtConversione", "FrmMain", "Testo convertito in Printable", { 291, 159, 281, 115 } },
    { "Frame1", "FrmMain", "Codifica Mime64", { 21, 27, 256, 85 } },
    { "cmdDecifra", "Frame1", "Decodifica", { 144, 30, 81, 33 } },
    { "cmdConverti", "Frame1", "Converti", { 36, 30, 81, 33 } },
    { "cmdPrintable", "FrmMain", "Cod. Printable", { 291, 126, 281, 33 } },
    { "txtTesto", "FrmMain", "Testo da convertire", { 291, 9, 281, 115 } },
};
const char *const kTabOrder[] = { "txtTesto",       "cmdPrintable",    "cmdConverti",     "cmdDecifra",
                                  "txtConversione", "cmdDecPrintable", "cmdConvPrintable" };

// What each file button shows, in order, when the person says Yes, picks the input and saves as
// "uscita"; %O stands for the output path in upper case.
struct JobTexts {
    const char *button, *input, *content, *output;
    Seen seen;
};
const JobTexts kJobTexts[] = {
    { "cmdConverti",
      "a.bin",
      "foobar",
      "a.bin.m64",
      { "36|Conversione Mime64|Il file codificato verrà salvato nella stessa cartella del file selezionato con l'aggiunta dell'estensione .m64. Si desidera procedere?",
        "open|Selezionare il file da convertire...|Tutti i file (*.*)|*.*|4100",
        "64|Conversione|%O: Conversione eseguita correttamente." } },
    { "cmdDecifra",
      "b.m64",
      "Zm9vYmFy\r\n",
      "uscita",
      { "36|Conversione Mime64|Il file selezionato in formato Mime64 verrà  decodificato e salvato in un altro file il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
        "open|Selezionare il file in formato M64 da decodificare...|Codifica M64 (*.m64)|*.m64|4100",
        "save|Salva come...|tutti i file (*.*)|*.*|2054", "64|Conversione|%O: Decodifica eseguita correttamente." } },
    { "cmdConvPrintable",
      "c.txt",
      "è=",
      "c.txt.ptb",
      { "36|Codifica Printable|Il file codificato verrà salvato nella stessa cartella del file selezionato con l'aggiunta dell'estensione .ptb. Si desidera procedere?",
        "open|Selezione del file da codificare...|File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*|4100",
        "64|Conversione|%O: Conversione eseguita correttamente." } },
    { "cmdDecPrintable",
      "d.ptb",
      "=C3=A8=3D",
      "uscita",
      { "36|Conversione Printable|Il file selezionato in formato Printable verrà  decodificato e salvato in un altro file il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
        "open|Seleziona il file da decodificare...|Codifica Printable (*.ptb)|*.ptb|4100",
        "save|Salva come...|tutti i file (*.*)|*.*|2054", "64|Conversione|%O: Decifrazione eseguita correttamente." } },
};
const char *const kDecoded[] = { "Zm9vYmFy\r\n", "foobar", "=C3=A8=3D", "è=" };

class Window : public ::testing::Test {
protected:
    void SetUp() override { window.setInteraction(dialog, messages), window.setWorkRunner(work); }
    QPushButton *button(const char *name) { return window.findChild<QPushButton *>(name); }

    QTemporaryDir dir;
    Seen seen;
    ScriptedDialog dialog { seen };
    ScriptedMessages messages { seen };
    DirectWorkRunner work;
    FrmMain window;
};

TEST_F(Window, ShowsItsControlsAsDesigned)
{
    EXPECT_EQ(window.windowTitle(), "Ostrevo di utilizzo di Dravolin.dll");
    EXPECT_EQ(window.size(), QSize(575, 279));
    EXPECT_EQ(window.windowType(), Qt::Tool);
    QStringList created;
    for (const QWidget *child : window.findChildren<QWidget *>(QString(), Qt::FindChildrenRecursively))
        if (!child->objectName().isEmpty() && !child->objectName().startsWith("qt_"))
            created << child->objectName();
    QStringList expected;
    for (const Control &control : kLayout) {
        SCOPED_TRACE(control.name);
        expected << control.name;
        const QWidget *widget = window.findChild<QWidget *>(control.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), control.container);
        EXPECT_EQ(widget->geometry(), control.geometry);
        const auto *button = qobject_cast<const QPushButton *>(widget);
        const auto *frame = qobject_cast<const QGroupBox *>(widget);
        EXPECT_EQ(button ? button->text() : frame ? frame->title() : widget->accessibleName(), control.caption);
    }
    EXPECT_EQ(created, expected);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EQ(QApplication::focusWidget(), window.txtTesto);
    for (std::size_t i = 0; i < std::size(kTabOrder); ++i) {
        EXPECT_EQ(QApplication::focusWidget()->objectName(), kTabOrder[i]);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(QApplication::focusWidget(), window.txtTesto);
}

TEST_F(Window, EachFileButtonAsksThenRunsItsJobShowingExactlyItsTexts)
{
    for (std::size_t i = 0; i < std::size(kJobTexts); ++i) {
        const JobTexts &job = kJobTexts[i];
        SCOPED_TRACE(job.button);
        writeFile(dir.filePath(job.input), job.content);
        seen.clear();
        button(job.button)->click(); // No: nothing runs
        EXPECT_THAT(seen, ElementsAre(job.seen.front()));
        seen.clear();
        messages.answers = { MessageAnswer::Yes };
        dialog.answers = { dir.filePath(job.input), dir.filePath("uscita") };
        button(job.button)->click();
        Seen expected = job.seen;
        expected.back().replace("%O", dir.filePath(job.output).toUpper());
        EXPECT_THAT(seen, ElementsAreArray(expected));
        EXPECT_EQ(readFile(dir.filePath(job.output)), kDecoded[i]);
    }
}

TEST_F(Window, EnterClicksOnlyTheFocusedButtonAndEscNothing)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (const JobTexts &job : kJobTexts) {
        button(job.button)->setFocus();
        seen.clear();
        QTest::keyClick(button(job.button), Qt::Key_Return);
        QTest::keyClick(button(job.button), Qt::Key_Escape);
        EXPECT_THAT(seen, ElementsAre(job.seen.front()));
    }
    seen.clear();
    window.txtTesto->setFocus();
    QTest::keyClicks(window.txtTesto, "uno");
    QTest::keyClick(window.txtTesto, Qt::Key_Return);
    QTest::keyClick(window.txtTesto, Qt::Key_Escape);
    EXPECT_EQ(window.txtTesto->toPlainText(), "uno\n");
    EXPECT_THAT(seen, IsEmpty());
}

TEST_F(Window, TypedTextBecomesPrintableInTheReadOnlyLowerBox)
{
    window.txtTesto->setPlainText(QString::fromUtf8("Caffè = 3€  \n\u00A0fine  "));
    window.cmdPrintable->click();
    window.cmdPrintable->click();
    const QString printable = "Caff=C3=A8 =3D 3=E2=82=AC =20\r\n=C2=A0fine";
    EXPECT_EQ(window.txtConversione->printableText(), printable);
    EXPECT_TRUE(window.txtConversione->isReadOnly());
    window.txtConversione->selectAll();
    window.txtConversione->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), printable);

    ConversionLibrary missing(dir.filePath("manca.so"));
    window.setLibrary(missing);
    window.cmdPrintable->click();
    EXPECT_THAT(seen, ElementsAre(BeginsWith("16|Errore|1006: Impossibile caricare la libreria")));
    EXPECT_EQ(window.txtConversione->printableText(), printable);
}

// A drag over button carrying data; whether the button took it.
bool drop(QPushButton *button, QMimeData *data)
{
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &enter);
    const bool pressedLook = button->isDown();
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &dropped);
    EXPECT_EQ(pressedLook, enter.isAccepted());
    EXPECT_FALSE(button->isDown());
    QCoreApplication::processEvents();
    return enter.isAccepted() && dropped.isAccepted();
}

TEST_F(Window, AFileDroppedOnAButtonRunsItsJobOnThatFileAfterTheQuestion)
{
    for (const JobTexts &job : kJobTexts) {
        SCOPED_TRACE(job.button);
        writeFile(dir.filePath(job.input), job.content);
        QMimeData data;
        data.setUrls({ QUrl::fromLocalFile(dir.filePath(job.input)) });
        seen.clear();
        messages.answers = { MessageAnswer::Yes };
        dialog.answers = { dir.filePath("uscita") };
        EXPECT_TRUE(drop(button(job.button), &data));
        Seen expected = job.seen;
        expected.erase(expected.begin() + 1); // no open dialog
        expected.back().replace("%O", dir.filePath(job.output).toUpper());
        EXPECT_THAT(seen, ElementsAreArray(expected));
    }
}

TEST_F(Window, SeveralFilesAFolderOrARemoteFileAreNotTaken)
{
    writeFile(dir.filePath("a"), "x");
    const QList<QList<QUrl>> refused
        = { { QUrl::fromLocalFile(dir.filePath("a")), QUrl::fromLocalFile(dir.filePath("a")) },
            { QUrl::fromLocalFile(dir.path()) },
            { QUrl("https://example.org/a.m64") },
            { QUrl::fromLocalFile(dir.filePath("manca")) } };
    for (const QList<QUrl> &urls : refused) {
        QMimeData data;
        data.setUrls(urls);
        EXPECT_FALSE(drop(window.cmdDecifra, &data)) << urls.first().toString().toStdString();
    }
    QMimeData text;
    text.setText("testo");
    EXPECT_FALSE(drop(window.cmdConverti, &text));
    EXPECT_THAT(seen, IsEmpty());
}

TEST_F(Window, FilesNamedAtStartAreDecodedByTheirKindOthersRefused)
{
    writeFile(dir.filePath("a.M64"), "Zm9v");
    writeFile(dir.filePath("b.ptb"), "x=3D");
    const QStringList refused = window.openFiles({ dir.filePath("a.M64"), "c.txt", dir.filePath("b.ptb") });
    EXPECT_THAT(refused, ElementsAre("c.txt"));
    messages.answers = { MessageAnswer::Yes, MessageAnswer::Yes };
    dialog.answers = { dir.filePath("a.out"), dir.filePath("b.out") };
    QCoreApplication::processEvents();
    EXPECT_EQ(readFile(dir.filePath("a.out")), "foo");
    EXPECT_EQ(readFile(dir.filePath("b.out")), "x=");
    EXPECT_THAT(seen, ::testing::Contains(kJobTexts[3].seen.front()));
}

} // namespace
