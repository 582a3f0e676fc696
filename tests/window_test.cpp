// The window as a person meets it: its layout, tab order and every text it shows, written out here
// once, compared with what the running window and its jobs show; keys, the typed text, drops, files
// named at start-up; jobs at work off the window's thread; the real Qt dialogs behind it. Its main
// runs them, and the job tests, headless with Qt's Italian texts; the file dialog's saved state and
// Qt's runtime files go to a folder of our own.

#include "frm_main.h"
#include "italian_translations.h"
#include "printable_text_box.h"
#include "qt_file_dialog.h"
#include "qt_message_boxes.h"
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
#include <QProcess>
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

// The job tests' folder and scripted person, with the window on them.
class Window : public Jobs {
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

    FrmMain window;
};

// Drops urls on button from a source allowing allowed and, Shift held, proposing a move; the action
// given back, IgnoreAction if refused. The button looks pressed while it would take the drop.
Qt::DropAction drop(QPushButton *button, const QList<QUrl> &urls,
                    Qt::DropActions allowed = Qt::CopyAction | Qt::MoveAction)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), allowed, &data, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(button, &enter);
    EXPECT_EQ(button->isDown(), enter.isAccepted());
    QDropEvent dropped(QPointF(5, 5), allowed, &data, Qt::LeftButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(button, &dropped);
    EXPECT_FALSE(button->isDown());
    QCoreApplication::processEvents();
    return enter.isAccepted() && dropped.isAccepted() ? dropped.dropAction() : Qt::IgnoreAction;
}

TEST_F(Window, ShowsItsControlsAsDesignedEnterClicksOnlyAFocusedButtonTypedTextBecomesPrintable)
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
    // Typed text becomes Printable in the read-only lower box; without the library it stays as it was.
    seen.clear();
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

// Each job on a file chosen, then dropped as a copy, which takes the open dialog's place. Any other
// drop is refused: "file://tmp/..." names the host "tmp", though Linux would open "//tmp/...".
// While the chosen file's job writes, slowly, clicks on the buttons start nothing.
TEST_F(Window, EachFileButtonRunsItsJobOnAFileChosenOrDroppedAsACopyShowingExactlyItsTexts)
{
    for (const JobTexts &job : kJobTexts) {
        writeFile(dir.filePath(job.input), job.content);
        seen.clear();
        messages.answers = { MessageAnswer::Yes };
        dialog.answers = { dir.filePath(job.input), dir.filePath("uscita") };
        setReplaceHooksForTesting({ [](std::size_t) { return std::this_thread::sleep_for(300ms), 0; } });
        QTimer::singleShot(100, [&] {
            for (QPushButton *other : window.findChildren<QPushButton *>(QRegularExpression("^cmd")))
                other->click();
        });
        button(job.button)->click();
        setReplaceHooksForTesting({});
        EXPECT_THAT(seen, ElementsAreArray(expected(job)));
        EXPECT_EQ(readFile(dir.filePath(job.output)), job.written);
        seen.clear();
        messages.answers = { MessageAnswer::Yes };
        dialog.answers = { dir.filePath("uscita") };
        const QUrl url("file://" + QString(&job == &kJobTexts[1] ? "localhost" : "") + dir.filePath(job.input));
        EXPECT_EQ(drop(button(job.button), { url }), Qt::CopyAction) << job.button;
        EXPECT_THAT(seen, ElementsAreArray(expected(job, true)));
    }
    seen.clear();
    const QUrl file = QUrl::fromLocalFile(dir.filePath("a.bin")), otherHost("file:/" + dir.filePath("a.bin"));
    const QList<QList<QUrl>> refused {
        {}, { file, file }, { QUrl::fromLocalFile(dir.path()) }, { otherHost }, { QUrl("https://example.org/a.m64") }
    };
    for (const QList<QUrl> &urls : refused)
        EXPECT_EQ(drop(window.cmdConverti, urls), Qt::IgnoreAction) << urls.value(0).toString().toStdString();
    EXPECT_EQ(drop(window.cmdConverti, { file }, Qt::MoveAction), Qt::IgnoreAction);
    EXPECT_THAT(seen, IsEmpty());
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
TEST_F(Window, ALongJobShowsHowFarItIsAndAnnullaStopsIt)
{
    QtWorkRunner runner(&window);
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
        auto *progress = qobject_cast<QProgressDialog *>(modal);
        shownAfter = std::chrono::steady_clock::now() - started;
        shown << progress->windowTitle() << progress->labelText() << QString::number(progress->value() / 5 * 5);
        for (QPushButton *button : progress->findChildren<QPushButton *>())
            shown << button->text(), button->click();
    });
    run(ConvertiFileMime64, dir.filePath("a.bin"), {}, &runner);
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

// Answers each modal that comes up with the next of answers, noting a box's title, text and buttons
// (the answer names the one clicked), or a file dialog's mode, file mode, title, filters as read,
// start folder, overwrite question, native choice and width (the answer is the file, "" cancels).
void answerModals(QStringList &shown, QStringList answers)
{
    whenModal([&shown, answers](QWidget *modal) mutable {
        const QString answer = answers.takeFirst();
        if (!answers.isEmpty())
            answerModals(shown, answers);
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            QStringList line { box->windowTitle(), box->text() };
            for (QAbstractButton *button : box->buttons())
                line << button->text().remove('&');
            shown << line.join('|');
            return box->buttons().at(line.indexOf(answer) - 2)->click();
        }
        auto *files = qobject_cast<QFileDialog *>(modal);
        const auto *filters = files->findChild<QComboBox *>("fileTypeCombo");
        QStringList line { files->acceptMode() == QFileDialog::AcceptOpen ? "open" : "save",
                           files->fileMode() == QFileDialog::ExistingFile ? "existing" : "any", files->windowTitle() };
        for (int i = 0; i < filters->count(); ++i)
            line << filters->itemText(i);
        line << files->directory().path() << (files->testOption(QFileDialog::DontConfirmOverwrite) ? "" : "asks")
             << (files->testOption(QFileDialog::DontUseNativeDialog) ? "qt only" : "")
             << (files->width() >= 600 ? "wide" : "");
        shown << line.join('|');
        files->selectFile(answer);
        answer.isEmpty() ? files->reject() : static_cast<QDialog *>(files)->accept();
    });
}

// The window's own dialogs and boxes take each request; the open dialog starts at home, then in the
// last input's folder, the save dialog in the input's; Cancel ends the job silently.
TEST_F(Window, TheRealDialogsTakeEachRequestAndStartWhereThePersonWorks)
{
    QtMessageBoxes boxes(&window);
    window.setInteraction(window.Dialog, boxes);
    QDir(dir.path()).mkpath("nominati");
    writeFile(dir.filePath("a.m64"), "Zm9v");
    QStringList shown;
    answerModals(shown, { "Sì", dir.filePath("a.m64"), "", "No", "No", "Sì", "" });
    window.cmdDecifra->click();
    EXPECT_THAT(listing(dir.path()), ElementsAre("a.m64 4", "nominati -1"));
    // Named at start, each file goes to its kind's job, whatever the case of its extension.
    const QStringList named { dir.filePath("nominati/a.M64"), "c.txt", dir.filePath("nominati/b.PTB") };
    EXPECT_THAT(window.openFiles(named), ElementsAre("c.txt"));
    QCoreApplication::processEvents();
    window.cmdConvPrintable->click();
    const auto question = [](const JobTexts &job) { return job.seen[0].mid(3).replace('\r', '\n') + "|Sì|No"; };
    EXPECT_THAT(shown,
                ElementsAre(question(kJobTexts[1]),
                            "open|existing|Selezionare il file in formato M64 da decodificare...|Codifica M64 "
                            "(*.m64)|"
                                + QDir::homePath() + "|asks||wide",
                            "save|any|Salva come...|tutti i file (*.*)|" + dir.path() + "|asks||wide",
                            question(kJobTexts[1]), question(kJobTexts[3]), question(kJobTexts[2]),
                            "open|existing|Selezione del file da codificare...|File di Testo (*.txt)|Pagina HTML|"
                            "Tutti i file (*.*)|"
                                + dir.filePath("nominati") + "|asks||wide"));
}

// Started from a terminal with no display: status, standard output and error. Where the window must
// open (-1) it does so offscreen, names the arguments it leaves alone, and waits.
TEST(CommandLine, HelpVersionAndBadOptionsNeedNoDisplayFilesOpenTheWindow)
{
    const QString version = "^dravolin 1\\.0\\.0\n$",
                  invalid = "^dravolin: opzione non valida: %1\nPer l'elenco delle opzioni: dravolin --help\n$",
                  refused = "dravolin: %D/%1 non è un file .m64 o .ptb: la finestra si apre senza avviare alcuna "
                            "conversione.\n";
    const std::tuple<QStringList, int, QString, QString> rows[] = {
        { { "--help" }, 0, "^Uso: dravolin \\[opzioni\\] (.*\n)+  -h, --help (.*\n)+  -v, --version ", "^$" },
        { { "a.m64", "-h" }, 0, "^Uso: dravolin ", "^$" },
        { { "--version" }, 0, version, "^$" },
        { { "-platform", "xcb", "-v" }, 0, version, "^$" },
        { { "-platform", "xcb", "-versione", "a.m64" }, 2, "^$", invalid.arg("-versione") },
        { { "-style" }, 2, "^$", invalid.arg("-style") },
        { { "--", "--version", "-platform", "x.ptb" }, -1, "^$", refused.arg("--version") + refused.arg("-platform") },
        { { "-style", "fusion", "c.txt", "a.m64" }, -1, "^$", refused.arg("c\\.txt") },
    };
    QTemporaryDir dir;
    for (const auto &[arguments, status, out, err] : rows) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *display : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(display);
        if (status < 0)
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(dir.path());
        program.start(DRAVOLIN_PROGRAM, arguments);
        const QRegularExpression errors(QString(err).replace("%D", QRegularExpression::escape(dir.path())));
        QString printed;
        program.setReadChannel(QProcess::StandardError);
        while (status < 0 && !errors.match(printed += program.readAllStandardError()).hasMatch()
               && program.waitForReadyRead(30000))
            ;
        program.waitForFinished(status < 0 ? 0 : 30000);
        EXPECT_EQ(program.state() == QProcess::Running ? -1 : program.exitCode(), status); // a crash: its signal
        program.kill();
        program.waitForFinished();
        EXPECT_TRUE(QRegularExpression(out).match(program.readAllStandardOutput()).hasMatch());
        EXPECT_TRUE(errors.match(printed += program.readAllStandardError()).hasMatch()) << printed.toStdString();
    }
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
