// The job frame and the four file jobs end to end: what they ask, what they
// write, what they say; files pass through them byte for byte.

#include "job_frame.h"
#include "scripted_person.h"

#include <QCursor>
#include <QProcess>
#include <QStandardPaths>

#include <new>

#include <sys/stat.h>

namespace {

TEST(JobFrame, AFailureShowsNumberAndTextUnderErroreWhileCancelAndSuccessShowNothing)
{
    ScriptedMessages messages;
    bool ran = false;
    runJob(messages, [] { throw cancelledByPerson(); });
    runJob(messages, [&] { ran = true; });
    EXPECT_TRUE(ran && messages.shown.empty());
    runJob(messages, [] { throw JobError(1234, QStringLiteral("descrizione di prova")); });
    expectOnlyBox(messages, "1234: descrizione di prova", 16, "Errore");
    // A buffer the size of a large file may not fit: told as the OS would.
    runJob(messages, [] { throw std::bad_alloc(); });
    expectOnlyBox(messages, "12: " + QString::fromLocal8Bit(std::strerror(ENOMEM)), 16, "Errore");

    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        BusyCursor busy;
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

using FileJobs = JobTest;

std::string everyByteTwice()
{
    std::string bytes;
    for (int value = 0; value < 512; ++value)
        bytes += static_cast<char>(value);
    return bytes;
}

TEST_F(FileJobs, EachJobAsksWritesAndSaysExactly)
{
    const struct {
        Job job;
        const char *filter, *title, *input;
        std::string content;
        const char *output; // beside the input, or where the person saves
        bool saves, oldOutput; // oldOutput: a longer file of mode 0604 is there to replace
        std::string expected;
        const char *words;
    } cases[] = {
        // 57 zero bytes fill a line of 76 'A', the 58th makes "AA==": lines end in CR LF.
        { ConvertiFileMime64, "Tutti i file (*.*)|*.*", "Selezionare il file da convertire...", "Lettera.txt",
          std::string(58, '\0'), "Lettera.txt.m64", false, true, std::string(76, 'A') + "\r\nAA==\r\n",
          ": Conversione eseguita correttamente." },
        { DecifraFileMime64, "Codifica M64 (*.m64)|*.m64", "Selezionare il file in formato M64 da decodificare...",
          "dati.m64", "Zm9vYmFy\r\n", "Uscita.bin", true, false, "foobar", ": Decodifica eseguita correttamente." },
        // RFC 2045: '=' and bytes above 126 become =XX with capital hex digits.
        { ConvertiFilePrintable, "File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*",
          "Selezione del file da codificare...", "nota.txt", "Caff\xE8 a=b\r\nfine\r\n", "nota.txt.ptb", false, false,
          "Caff=E8 a=3Db\r\nfine\r\n", ": Conversione eseguita correttamente." },
        // A soft line break ("=" ending a line) joins the two lines.
        { DecifraFilePrintable, "Codifica Printable (*.ptb)|*.ptb", "Seleziona il file da decodificare...", "nota.ptb",
          "Caff=E8 a=3Db=\r\nfine\r\n", "Chiaro.txt", true, true, "Caff\xE8 a=bfine\r\n",
          ": Decifrazione eseguita correttamente." },
    };
    const mode_t savedMask = ::umask(027);
    for (const auto &each : cases) {
        SCOPED_TRACE(each.title);
        QTemporaryDir folder;
        const QString input = folder.path() + '/' + each.input, output = folder.path() + '/' + each.output;
        writeBytes(input, each.content);
        if (each.oldOutput)
            writeBytes(output, std::string(5000, 'x')), ::chmod(output.toLocal8Bit().constData(), 0604);
        dialog.shown.clear();
        run(each.job, input, each.saves ? output : QString());

        ASSERT_EQ(dialog.shown.size(), each.saves ? 2u : 1u);
        for (const ShownRequest &shown : dialog.shown) {
            const bool open = &shown == &dialog.shown.front();
            EXPECT_TRUE(shown.kind == (open ? FileRequestKind::Open : FileRequestKind::Save)
                        && shown.request.cancelError && shown.request.fileName.isEmpty() && !shown.busyCursorShown);
            EXPECT_EQ(shown.request.filter, open ? each.filter : "tutti i file (*.*)|*.*");
            EXPECT_EQ(shown.request.flags, open ? 4100 : 2054);
            EXPECT_EQ(shown.request.dialogTitle, open ? each.title : "Salva come...");
        }
        EXPECT_EQ(readBytes(output), each.expected);
        // A new file gets 0666 under the umask; a replaced one keeps its mode.
        struct stat info { };
        EXPECT_TRUE(::lstat(output.toLocal8Bit().constData(), &info) == 0
                    && (info.st_mode & 07777) == (each.oldOutput ? 0604u : 0640u));
        expectDone(output, each.words);
        QStringList names { each.input, each.output };
        names.sort();
        EXPECT_EQ(namesIn(folder.path()), names);
    }
    ::umask(savedMask);
}

TEST_F(FileJobs, EveryBytePassesUnchangedThroughBothPairsOfJobs)
{
    const std::string samples[] = {
        everyByteTwice() + "\r\n\n\r" + std::string(1, '\0') + "=",
        "prima riga\r\nseconda riga, spazi in fondo  \t\r\n\r\nterza, senza fine riga",
        "prima riga\nseconda riga\n\nterza\n",
    };
    for (const std::string &sample : samples) {
        const QString input = path(QStringLiteral("campione%1.bin").arg(&sample - samples));
        SCOPED_TRACE(input.toStdString());
        writeBytes(input, sample);
        run(ConvertiFileMime64, input);
        run(DecifraFileMime64, input + ".m64", input + ".da64");
        EXPECT_EQ(readBytes(input + ".da64"), sample);
        run(ConvertiFilePrintable, input);
        run(DecifraFilePrintable, input + ".ptb", input + ".daptb");
        EXPECT_EQ(readBytes(input + ".daptb"), sample);
    }
    for (const ShownMessage &shown : messages.shown)
        EXPECT_EQ(shown.style, 64) << shown.prompt.toStdString();
}

TEST_F(FileJobs, PtbWrittenByPythonQuopriDecodesToTheOriginalBytes)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 not installed";
    const std::string original
        = everyByteTwice() + "\nuna riga di testo con spazi finali   \n" + std::string(200, 'z') + "\n";
    writeBytes(path("originale.bin"), original);
    QProcess quopri;
    quopri.start(python,
                 { "-c", "import quopri,sys\nquopri.encode(open(sys.argv[1],'rb'),open(sys.argv[2],'wb'),False)",
                   path("originale.bin"), path("python.ptb") });
    ASSERT_TRUE(quopri.waitForFinished(30000) && quopri.exitCode() == 0) << quopri.readAllStandardError().toStdString();
    run(DecifraFilePrintable, path("python.ptb"), path("decodificato.bin"));
    EXPECT_EQ(readBytes(path("decodificato.bin")), original);
}

TEST_F(FileJobs, CancelAtOpenOrSaveEndsTheJobSilentlyWritingNothing)
{
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    writeBytes(path("dati.ptb"), "abc=3D\r\n");
    for (Job job : { ConvertiFileMime64, DecifraFileMime64, ConvertiFilePrintable, DecifraFilePrintable }) {
        dialog.cancel();
        job(context);
    }
    for (const auto &[job, input] :
         { std::pair<Job, const char *> { DecifraFileMime64, "dati.m64" }, { DecifraFilePrintable, "dati.ptb" } }) {
        dialog.answer(path(input));
        dialog.cancel();
        job(context);
    }
    EXPECT_EQ(dialog.shown.size(), 8u);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(namesIn(dir.path()), (QStringList { "dati.m64", "dati.ptb" }));
}

TEST_F(FileJobs, EncodedFilesAreReadLenientlyToTheirLastByteAndPrintableTakesEmptyFiles)
{
    writeBytes(path("vuoto.txt"), "");
    run(ConvertiFilePrintable, path("vuoto.txt"));
    expectDone(path("vuoto.txt.ptb"), ": Conversione eseguita correttamente.");
    EXPECT_EQ(readBytes(path("vuoto.txt.ptb")), std::string());
    const std::string manyBlanks(1 << 20, ' ');
    // Expected by RFC 2045 read leniently: "=XX" in either case is a byte, '='
    // before a line break or the end (blanks between) is a soft break, any
    // other '=' stands, blanks ending a line go, a lone CR is no line break.
    // Files of megabytes and NULs inside must be read to the end.
    const std::pair<std::string, std::string> printable[] = {
        { "", "" },
        { "abc=", "abc" },
        { "abc=\r", "abc=\r" },
        { "=e8=E8=3d=3D", "\xE8\xE8==" },
        { "=G1=\x80=", "=G1=\x80" },
        { std::string("a\0=00b", 6), std::string("a\0\0b", 4) },
        { "x" + manyBlanks + "\r\ny" + std::string(1 << 20, '\t'), "x\r\ny" },
        { "x" + manyBlanks + "y", "x" + manyBlanks + "y" },
        { "=" + manyBlanks + "\nz", "z" },
    };
    int number = 0;
    for (const auto &[content, expected] : printable) {
        const QString input = path(QStringLiteral("caso%1.ptb").arg(number++));
        SCOPED_TRACE(input.toStdString());
        writeBytes(input, content);
        run(DecifraFilePrintable, input, input + ".txt");
        expectDone(input + ".txt", ": Decifrazione eseguita correttamente.");
        EXPECT_EQ(readBytes(input + ".txt"), expected);
    }
    // Blanks anywhere, however many, and a leading byte-order mark are skipped.
    writeBytes(path("spaziato.m64"), "\xEF\xBB\xBFZm9v" + manyBlanks + "\r\n\t" + manyBlanks + "YmFy\r\n");
    run(DecifraFileMime64, path("spaziato.m64"), path("spaziato.bin"));
    expectDone(path("spaziato.bin"), ": Decodifica eseguita correttamente.");
    EXPECT_EQ(readBytes(path("spaziato.bin")), std::string("foobar"));
}

} // namespace
