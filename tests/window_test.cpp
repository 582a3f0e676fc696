// The window as a person meets it: its layout, tab order and every text it shows, written out here
// once, compared with what the running window and its jobs show; keys, the typed text, drops, files
// named at start-up; jobs at work off the window's thread; the real Qt dialogs behind it. Its main
// runs them, and the job tests, headless with Qt's Italian texts; the file dialog's saved state and
// Qt's runtime files go to a folder of our own.

#include "conversion_library.h"
#include "file_jobs.h"
#include "frm_main.h"
#include "italian_translations.h"
#include "os_files.h"
#include "printable_text_box.h"
#include "qt_file_dialog.h"
#include "qt_message_boxes.h"
#include "streamed_conversion.h"
#include "support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <thread>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using namespace std::chrono_literals;

namespace {

// clang-format off
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
const char *const kTabOrder[] = { "txtTesto", "cmdPrintable", "cmdConverti", "cmdDecifra", "txtConversione",
                                  "cmdDecPrintable", "cmdConvPrintable", "txtTesto" };

// What each file button shows, in order, when the person says Yes, picks the input and saves as
// "uscita"; %O stands for the output path in upper case.
struct JobTexts {
    const char *button, *input, *content, *output, *written;
    Seen seen;
};
const JobTexts kJobTexts[] = {
    { "cmdConverti", "a.bin", "foobar", "a.bin.m64", "Zm9vYmFy\r\n",
      { "36|Conversione Mime64|Il file codificato verrà salvato nella stessa cartella del file selezionato con l'aggiunta dell'estensione .m64. Si desidera procedere?",
        "open|Selezionare il file da convertire...|Tutti i file (*.*)|*.*|4100",
        "64|Conversione|%O: Conversione eseguita correttamente." } },
    { "cmdDecifra", "b.m64", "Zm9vYmFy\r\n", "uscita", "foobar",
      { "36|Conversione Mime64|Il file selezionato in formato Mime64 verrà  decodificato e salvato in un altro file il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
        "open|Selezionare il file in formato M64 da decodificare...|Codifica M64 (*.m64)|*.m64|4100",
        "save|Salva come...|tutti i file (*.*)|*.*|2054",
        "64|Conversione|%O: Decodifica eseguita correttamente." } },
    { "cmdConvPrintable", "c.txt", "è=", "c.txt.ptb", "=C3=A8=3D",
      { "36|Codifica Printable|Il file codificato verrà salvato nella stessa cartella del file selezionato con l'aggiunta dell'estensione .ptb. Si desidera procedere?",
        "open|Selezione del file da codificare...|File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*|4100",
        "64|Conversione|%O: Conversione eseguita correttamente." } },
    { "cmdDecPrintable", "d.ptb", "=C3=A8=3D", "uscita", "è=",
      { "36|Conversione Printable|Il file selezionato in formato Printable verrà  decodificato e salvato in un altro file il cui filename verrà specificato in un'apposita finestra di dialogo. \rSi desidera procedere?",
        "open|Seleziona il file da decodificare...|Codifica Printable (*.ptb)|*.ptb|4100",
        "save|Salva come...|tutti i file (*.*)|*.*|2054",
        "64|Conversione|%O: Decifrazione eseguita correttamente." } },
};
// clang-format on

class Window : public ::testing::Test {
protected:
    void SetUp() override { window.setInteraction(dialog, messages); }
    QPushButton *button(const char *name) { return window.findChild<QPushButton *>(name); }
    // What job shows, with the output named, and without its open request when the file was given.
    Seen expected(const JobTexts &job, bool given = false)
    {
        Seen lines = job.seen;
        lines.back().replace("%O", dir.filePath(job.output).toUpper());
        if (given)
            lines.erase(lines.begin() + 1);
        return lines;
    }

    QTemporaryDir dir;
    Seen seen;
    ScriptedDialog dialog { seen };
    ScriptedMessages messages { seen };
    FrmMain window;
};

TEST_F(Window, ShowsItsControlsAsDesignedAndEnterClicksOnlyAFocusedButton)
{
    EXPECT_EQ(window.windowTitle(), "Ostrevo di utilizzo di Dravolin.dll");
    EXPECT_EQ(window.size(), QSize(575, 279));
    EXPECT_EQ(window.windowType(), Qt::Tool);
    QStringList created, expected;
    for (const QWidget *child : window.findChildren<QWidget *>())
        if (!child->objectName().isEmpty() && !child->objectName().startsWith("qt_"))
            created << child->objectName();
    for (const Control &control : kLayout) {
        const QWidget *widget = window.findChild<QWidget *>(expected.emplace_back(control.name));
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), control.container);
        EXPECT_EQ(widget->geometry(), control.geometry) << control.name;
        const auto *button = qobject_cast<const QPushButton *>(widget);
        const auto *frame = qobject_cast<const QGroupBox *>(widget);
        EXPECT_EQ(button ? button->text() : frame ? frame->title() : widget->accessibleName(), control.caption);
    }
    EXPECT_EQ(created, expected);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (const char *next : kTabOrder) {
        ASSERT_EQ(QApplication::focusWidget()->objectName(), next);
        QTest::keyClicks(QApplication::focusWidget(), next == kTabOrder[0] ? "uno\r" : "\x1b\r\x1b");
        // A held Enter clicks once: its repeats would answer the question for the person.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
        if (next != kTabOrder[0])
            QCoreApplication::sendEvent(QApplication::focusWidget(), &repeat);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(window.txtTesto->toPlainText() + window.txtConversione->toPlainText(), "uno\nuno\nuno\n");
    // One question per Enter on a button in the tab order, none for Esc.
    EXPECT_THAT(seen,
                ElementsAre(kJobTexts[0].seen[0], kJobTexts[1].seen[0], kJobTexts[3].seen[0], kJobTexts[2].seen[0]));
}

TEST_F(Window, EachFileButtonAsksThenRunsItsJobShowingExactlyItsTexts)
{
    for (const JobTexts &job : kJobTexts) {
        writeFile(dir.filePath(job.input), job.content);
        seen.clear();
        button(job.button)->click(); // No: nothing runs
        EXPECT_THAT(seen, ElementsAre(job.seen.front()));
        seen.clear();
        messages.answers = { MessageAnswer::Yes };
        dialog.answers = { dir.filePath(job.input), dir.filePath("uscita") };
        button(job.button)->click();
        EXPECT_THAT(seen, ElementsAreArray(expected(job)));
        EXPECT_EQ(readFile(dir.filePath(job.output)), job.written);
    }
}

TEST_F(Window, TypedTextBecomesPrintableInTheReadOnlyLowerBox)
{
    window.txtTesto->setPlainText(QString::fromUtf8("Caffè = 3€  \n\u00A0fine\t\n  "));
    window.cmdPrintable->click();
    window.cmdPrintable->click();
    const QString printable = "Caff=C3=A8 =3D 3=E2=82=AC =20\r\n=C2=A0fine=09\r\n";
    EXPECT_EQ(window.txtConversione->printableText(), printable);
    window.txtConversione->selectAll();
    window.txtConversione->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), printable);
    ConversionLibrary missing(dir.filePath("manca.so"));
    window.setLibrary(missing);
    window.cmdPrintable->click();
    EXPECT_THAT(seen, ElementsAre(BeginsWith("16|Errore|1006: Impossibile caricare la libreria")));
    EXPECT_EQ(window.txtConversione->printableText(), printable);
}

// Drags data over button and drops it; whether the button took it, looking pressed meanwhile.
bool drop(QPushButton *button, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &enter);
    EXPECT_EQ(button->isDown(), enter.isAccepted());
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(button, &dropped);
    EXPECT_FALSE(button->isDown());
    QCoreApplication::processEvents();
    return enter.isAccepted() && dropped.isAccepted();
}

TEST_F(Window, OneFileDroppedOnAButtonRunsItsJobOnThatFileAnythingElseIsRefused)
{
    for (const JobTexts &job : kJobTexts) {
        writeFile(dir.filePath(job.input), job.content);
        seen.clear();
        messages.answers = { MessageAnswer::Yes };
        dialog.answers = { dir.filePath("uscita") };
        EXPECT_TRUE(drop(button(job.button), { QUrl::fromLocalFile(dir.filePath(job.input)) }));
        EXPECT_THAT(seen, ElementsAreArray(expected(job, true)));
    }
    seen.clear();
    const QUrl file = QUrl::fromLocalFile(dir.filePath("a.bin"));
    for (const QList<QUrl> &refused : QList<QList<QUrl>> {
             {}, { file, file }, { QUrl::fromLocalFile(dir.path()) }, { QUrl("https://example.org/a.m64") } })
        EXPECT_FALSE(drop(window.cmdDecifra, refused)) << refused.size();
    EXPECT_THAT(seen, IsEmpty());
}

TEST_F(Window, FilesNamedAtStartAreDecodedByTheirKindOthersRefused)
{
    writeFile(dir.filePath("a.M64"), "Zm9v");
    writeFile(dir.filePath("b.ptb"), "x=3D");
    EXPECT_THAT(window.openFiles({ dir.filePath("a.M64"), "c.txt", dir.filePath("b.ptb") }), ElementsAre("c.txt"));
    messages.answers = { MessageAnswer::Yes, MessageAnswer::Yes };
    dialog.answers = { dir.filePath("a.out"), dir.filePath("b.out") };
    QCoreApplication::processEvents();
    EXPECT_EQ(readFile(dir.filePath("a.out")), "foo");
    EXPECT_EQ(readFile(dir.filePath("b.out")), "x=");
    EXPECT_THAT(seen, ::testing::Contains(kJobTexts[3].seen.front()));
}

// Runs act on the next modal widget that comes up.
void whenModal(std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (QWidget *modal = QApplication::activeModalWidget())
            timer->stop(), timer->deleteLater(), act(modal);
    });
    timer->start(10);
}

// A job on a worker while the window's thread watches: after a second the progress dialog shows
// the job, its step and how much of the input is read, about half at the input's midpoint;
// "Annulla" stops it, leaving nothing written; a failure comes back as the job's error.
TEST(WorkOffTheWindow, ALongJobShowsHowFarItIsAndAnnullaStopsIt)
{
    QWidget window;
    QtWorkRunner runner(&window);
    QTemporaryDir dir;
    writeFile(dir.filePath("a.bin"), randomBytes(57000, 3));
    setPieceHooksForTesting({ 64 });
    std::thread::id worker;
    setReplaceHooksForTesting({ [&](std::size_t written) {
        if (written >= 78000 / 2 && worker == std::thread::id()) // the output's midpoint, once
            worker = std::this_thread::get_id(), std::this_thread::sleep_for(2500ms);
        return 0;
    } });
    QStringList shown;
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration shownAfter {};
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QProgressDialog *>(modal);
        shownAfter = std::chrono::steady_clock::now() - started;
        shown << dialog->windowTitle() << dialog->labelText() << QString::number(dialog->value() / 5 * 5);
        for (QPushButton *button : dialog->findChildren<QPushButton *>())
            shown << button->text(), button->click();
    });
    Seen seen;
    ScriptedDialog dialog(seen);
    ScriptedMessages messages(seen);
    ConversionLibrary library;
    dialog.answers = { dir.filePath("a.bin") };
    JobRunner(dialog, messages, runner, library).run(ConvertiFileMime64);
    setReplaceHooksForTesting({});
    setPieceHooksForTesting({});
    EXPECT_GE(shownAfter, 1s);
    EXPECT_LT(shownAfter, 2s);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_THAT(shown, ElementsAre("Conversione Mime64", "Conversione…", "50", "Annulla"));
    EXPECT_THAT(seen, SizeIs(1)); // the open request, and silence
    EXPECT_THAT(listing(dir.path()), ElementsAre("a.bin 57000"));
    EXPECT_THROW(runner.run("", [](WorkProgress &) { throw JobError(28, "spazio"); }), JobError);
}

// While a short job works no progress shows, and clicks start nothing; closing the window stops the
// job, leaving nothing written, and closes it after.
TEST_F(Window, NothingElseStartsWhileAJobWorksAndClosingStopsIt)
{
    window.show();
    writeFile(dir.filePath("a.txt"), "x");
    messages.answers = { MessageAnswer::Yes, MessageAnswer::Yes };
    dialog.answers = { dir.filePath("a.txt") };
    setReplaceHooksForTesting({ [](std::size_t) { return std::this_thread::sleep_for(300ms), 0; } });
    QTimer::singleShot(100, [&] {
        EXPECT_TRUE(window.jobRunning());
        for (QPushButton *button : window.findChildren<QPushButton *>(QRegularExpression("^cmd")))
            button->click();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // no progress yet
        window.close();
    });
    window.cmdConverti->click();
    setReplaceHooksForTesting({});
    EXPECT_THAT(seen, SizeIs(2)); // the first job's question and request, and no more
    EXPECT_FALSE(QFile::exists(dir.filePath("a.txt.m64")));
    EXPECT_FALSE(window.isVisible());
}

TEST(QtSeams, TheRealBoxesAndFileDialogShowTheirTextsAndGiveTheAnswer)
{
    QStringList shown;
    whenModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        shown << box->windowTitle() << box->text();
        for (QAbstractButton *button : box->buttons())
            shown << button->text().remove('&');
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(QtMessageBoxes(nullptr).show("Prima. \rSeconda?", MessageStyle::YesNoQuestion, "Titolo"),
              MessageAnswer::No);
    QTemporaryDir dir;
    writeFile(dir.filePath("dati.ptb"), "x");
    whenModal([&](QWidget *modal) {
        auto *files = qobject_cast<QFileDialog *>(modal);
        shown << files->windowTitle() << files->findChild<QComboBox *>("fileTypeCombo")->currentText();
        shown << QString::number(files->width() >= 600);
        files->setDirectory(dir.path());
        files->selectFile("dati.ptb");
        static_cast<QDialog *>(files)->accept();
    });
    const FileRequest request { true, "Codifica Printable (*.ptb)|*.ptb", 4100, "Seleziona", {} };
    EXPECT_EQ(QtFileDialog(nullptr).show(request, FileRequestKind::Open), dir.filePath("dati.ptb"));
    EXPECT_THAT(shown,
                ElementsAre("Titolo", "Prima. \nSeconda?", "Sì", "No", "Seleziona", "Codifica Printable (*.ptb)", "1"));
    whenModal([](QWidget *modal) { qobject_cast<QDialog *>(modal)->reject(); });
    EXPECT_THROW(QtFileDialog(nullptr).show(request, FileRequestKind::Save), JobError);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    QApplication application(argc, argv);
    installItalianTranslations(application);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
