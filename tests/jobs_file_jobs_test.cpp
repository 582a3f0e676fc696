// The four file jobs end to end: what they ask, what they write, what they say.

#include "conversion_jobs.h"
#include "conversion_library.h"
#include "jobs_test_support.h"
#include "os_files.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Job = void (*)(JobContext &);

class FileJobs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString &name) const { return dir.path() + QLatin1Char('/') + name; }

    // The single message the job showed.
    RecordedMessage onlyMessage() const
    {
        EXPECT_EQ(messages.messages.size(), 1u);
        return messages.messages.empty() ? RecordedMessage{} : messages.messages.front();
    }

    void expectCompletion(const QString &prompt) const
    {
        const RecordedMessage message = onlyMessage();
        EXPECT_EQ(message.prompt, prompt);
        EXPECT_EQ(message.style, 64);
        EXPECT_EQ(message.title, QStringLiteral("Conversione"));
        EXPECT_FALSE(message.busyCursorShown);
    }

    void expectError(const QString &prompt) const
    {
        const RecordedMessage message = onlyMessage();
        EXPECT_EQ(message.prompt, prompt);
        EXPECT_EQ(message.style, 16);
        EXPECT_EQ(message.title, QStringLiteral("Errore"));
        EXPECT_FALSE(message.busyCursorShown);
    }

    static void expectRequest(const RecordedRequest &recorded, FileRequestKind kind,
                              const QString &filter, int flags, const QString &title)
    {
        EXPECT_TRUE(recorded.kind == kind);
        EXPECT_TRUE(recorded.request.cancelError);
        EXPECT_EQ(recorded.request.filter, filter);
        EXPECT_EQ(recorded.request.flags, flags);
        EXPECT_EQ(recorded.request.dialogTitle, title);
        EXPECT_TRUE(recorded.request.fileName.isEmpty());
        EXPECT_FALSE(recorded.busyCursorShown);
    }

    static void expectSaveRequest(const RecordedRequest &recorded)
    {
        expectRequest(recorded, FileRequestKind::Save, QStringLiteral("tutti i file (*.*)|*.*"), 2054,
                      QStringLiteral("Salva come..."));
    }

    // Runs job over input, answering a save request with output when given.
    void run(Job job, const QString &input, const QString &output = {})
    {
        dialog.answer(input);
        if (!output.isEmpty())
            dialog.answer(output);
        job(context);
    }

    QTemporaryDir dir;
    ScriptedFileRequester dialog;
    RecordingMessageBoxes messages;
    ConversionLibrary library;
    JobContext context{dialog, messages, library};
};

// Stops injecting write failures when the test ends, however it ends.
struct WriteFailure {
    WriteFailure(int error, std::size_t afterBytes) { injectWriteFailureForTesting(error, afterBytes); }
    ~WriteFailure() { injectWriteFailureForTesting(0); }
};

QString errnoMessage(int error)
{
    return QString::number(error) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.toLocal8Bit().constData(), &info), 0) << path.toStdString();
    return info.st_mode;
}

// --- what each job asks, writes and says ---

TEST_F(FileJobs, Mime64EncodeWritesBesideTheInputAndReportsTheUpperCasePath)
{
    writeBytes(path("Lettera.txt"), "foobar");
    run(ConvertiFileMime64, path("Lettera.txt"));

    ASSERT_EQ(dialog.requests.size(), 1u);
    expectRequest(dialog.requests[0], FileRequestKind::Open, QStringLiteral("Tutti i file (*.*)|*.*"),
                  4100, QStringLiteral("Selezionare il file da convertire..."));
    // RFC 4648 test vector; one line, ended by CR LF.
    EXPECT_EQ(readBytes(path("Lettera.txt.m64")), std::string("Zm9vYmFy\r\n"));
    expectCompletion(dir.path().toUpper() +
                     QStringLiteral("/LETTERA.TXT.M64: Conversione eseguita correttamente."));
}

TEST_F(FileJobs, Mime64EncodeWritesLinesOf76CharactersEachEndedByCrLf)
{
    // 58 zero bytes: 57 fill one line of 76 'A', the last one makes "AA==".
    writeBytes(path("zeri.bin"), std::string(58, '\0'));
    run(ConvertiFileMime64, path("zeri.bin"));
    EXPECT_EQ(readBytes(path("zeri.bin.m64")), std::string(76, 'A') + "\r\nAA==\r\n");
}

TEST_F(FileJobs, Mime64EncodeReplacesALongerOldFileKeepingItsMode)
{
    writeBytes(path("a.txt"), "foob");
    writeBytes(path("a.txt.m64"), std::string(5000, 'x'));
    ASSERT_EQ(::chmod(path("a.txt.m64").toLocal8Bit().constData(), 0640), 0);

    run(ConvertiFileMime64, path("a.txt"));

    EXPECT_EQ(readBytes(path("a.txt.m64")), std::string("Zm9vYg==\r\n"));
    EXPECT_EQ(modeOf(path("a.txt.m64")) & 07777, 0640u);
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"a.txt", "a.txt.m64"}));
}

TEST_F(FileJobs, Mime64DecodeAsksForAnM64FileThenWhereToSave)
{
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    run(DecifraFileMime64, path("dati.m64"), path("Uscita.bin"));

    ASSERT_EQ(dialog.requests.size(), 2u);
    expectRequest(dialog.requests[0], FileRequestKind::Open, QStringLiteral("Codifica M64 (*.m64)|*.m64"),
                  4100, QStringLiteral("Selezionare il file in formato M64 da decodificare..."));
    expectSaveRequest(dialog.requests[1]);
    EXPECT_EQ(readBytes(path("Uscita.bin")), std::string("foobar"));
    expectCompletion(dir.path().toUpper() +
                     QStringLiteral("/USCITA.BIN: Decodifica eseguita correttamente."));
}

TEST_F(FileJobs, Mime64DecodeIntoAnExistingFileLeavesExactlyTheDecodedBytes)
{
    writeBytes(path("dati.m64"), "Zm9v\r\n");
    writeBytes(path("vecchio.bin"), std::string(300, 'v'));
    run(DecifraFileMime64, path("dati.m64"), path("vecchio.bin"));
    EXPECT_EQ(readBytes(path("vecchio.bin")), std::string("foo"));
}

TEST_F(FileJobs, PrintableEncodeOffersTextHtmlAndAllFiles)
{
    // RFC 2045: '=' and bytes above 126 become =XX with capital hex digits.
    writeBytes(path("nota.txt"), "Caff\xE8 a=b\r\nfine\r\n");
    run(ConvertiFilePrintable, path("nota.txt"));

    ASSERT_EQ(dialog.requests.size(), 1u);
    expectRequest(dialog.requests[0], FileRequestKind::Open,
                  QStringLiteral("File di Testo (*.txt)|*.txt|Pagina HTML|*.html;*.htm|Tutti i file (*.*)|*.*"),
                  4100, QStringLiteral("Selezione del file da codificare..."));
    EXPECT_EQ(readBytes(path("nota.txt.ptb")), std::string("Caff=E8 a=3Db\r\nfine\r\n"));
    expectCompletion(dir.path().toUpper() +
                     QStringLiteral("/NOTA.TXT.PTB: Conversione eseguita correttamente."));
}

TEST_F(FileJobs, PrintableDecodeAsksForAPtbFileThenWhereToSave)
{
    // A soft line break ("=" at the end of a line) joins the two lines.
    writeBytes(path("nota.ptb"), "Caff=E8 a=3Db=\r\nfine\r\n");
    run(DecifraFilePrintable, path("nota.ptb"), path("chiaro.txt"));

    ASSERT_EQ(dialog.requests.size(), 2u);
    expectRequest(dialog.requests[0], FileRequestKind::Open,
                  QStringLiteral("Codifica Printable (*.ptb)|*.ptb"), 4100,
                  QStringLiteral("Seleziona il file da decodificare..."));
    expectSaveRequest(dialog.requests[1]);
    EXPECT_EQ(readBytes(path("chiaro.txt")), std::string("Caff\xE8 a=bfine\r\n"));
    expectCompletion(dir.path().toUpper() +
                     QStringLiteral("/CHIARO.TXT: Decifrazione eseguita correttamente."));
}

TEST_F(FileJobs, PtbWrittenByPythonQuopriDecodesToTheOriginalBytes)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 not installed";
    std::string original;
    for (int round = 0; round < 2; ++round)
        for (int value = 0; value < 256; ++value)
            original += static_cast<char>(value);
    original += "\nuna riga di testo con spazi finali   \n" + std::string(200, 'z') + "\n";
    writeBytes(path("originale.bin"), original);

    QProcess quopri;
    quopri.start(python, {QStringLiteral("-c"),
                          QStringLiteral("import quopri,sys\n"
                                         "quopri.encode(open(sys.argv[1],'rb'),open(sys.argv[2],'wb'),False)"),
                          path("originale.bin"), path("python.ptb")});
    ASSERT_TRUE(quopri.waitForFinished(30000));
    ASSERT_EQ(quopri.exitCode(), 0) << quopri.readAllStandardError().toStdString();

    run(DecifraFilePrintable, path("python.ptb"), path("decodificato.bin"));
    EXPECT_EQ(readBytes(path("decodificato.bin")), original);
}

// --- round trips through the encoding and the decoding job ---

std::vector<std::string> roundTripSamples()
{
    std::string everyByte;
    for (int round = 0; round < 3; ++round)
        for (int value = 0; value < 256; ++value)
            everyByte += static_cast<char>(value);
    std::mt19937 generator(20240611);
    std::string random(100000, '\0');
    for (char &byte : random)
        byte = static_cast<char>(generator() & 0xFF);
    return {
        everyByte,
        random,
        "prima riga\r\nseconda riga\r\n\r\nterza, senza fine riga",
        "prima riga\nseconda riga\n\nterza\n",
        "ritorni\rsoli\r\rin mezzo\r",
        std::string("zeri\0in\0mezzo\0", 14),
        "spazi e tabulazioni in fondo  \t \r\naltra riga\t\n" + std::string(500, '=') + "\n",
        std::string(1, 'x'),
    };
}

TEST_F(FileJobs, EveryBytePassesUnchangedThroughMime64AndPrintable)
{
    int index = 0;
    for (const std::string &sample : roundTripSamples()) {
        SCOPED_TRACE("sample " + std::to_string(index));
        const QString input = path(QStringLiteral("campione%1.bin").arg(index++));
        writeBytes(input, sample);

        run(ConvertiFileMime64, input);
        run(DecifraFileMime64, input + ".m64", input + ".da64");
        EXPECT_EQ(readBytes(input + ".da64"), sample);

        run(ConvertiFilePrintable, input);
        run(DecifraFilePrintable, input + ".ptb", input + ".daptb");
        EXPECT_EQ(readBytes(input + ".daptb"), sample);
    }
    for (const RecordedMessage &message : messages.messages)
        EXPECT_EQ(message.style, 64) << message.prompt.toStdString();
}

// --- cancel and the error path ---

TEST_F(FileJobs, CancelAtTheOpenRequestEndsEveryJobSilently)
{
    for (Job job : {ConvertiFileMime64, DecifraFileMime64, ConvertiFilePrintable, DecifraFilePrintable}) {
        dialog.cancel();
        job(context);
    }
    EXPECT_EQ(dialog.requests.size(), 4u);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_TRUE(namesIn(dir.path()).isEmpty());
}

TEST_F(FileJobs, CancelAtTheSaveRequestWritesNothing)
{
    writeBytes(path("dati.m64"), "Zm9vYmFy\r\n");
    writeBytes(path("dati.ptb"), "abc=3D\r\n");
    dialog.answer(path("dati.m64"));
    dialog.cancel();
    DecifraFileMime64(context);
    dialog.answer(path("dati.ptb"));
    dialog.cancel();
    DecifraFilePrintable(context);

    EXPECT_EQ(dialog.requests.size(), 4u);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"dati.m64", "dati.ptb"}));
}

TEST_F(FileJobs, AMissingInputShowsTheErrnoAndItsText)
{
    run(ConvertiFilePrintable, path("assente.txt"));
    expectError(errnoMessage(ENOENT));
    EXPECT_TRUE(namesIn(dir.path()).isEmpty());
}

// --- empty, blank and malformed inputs ---

TEST_F(FileJobs, AnEmptyFileIsNotEncodedToMime64)
{
    writeBytes(path("vuoto.txt"), "");
    run(ConvertiFileMime64, path("vuoto.txt"));
    expectError(QStringLiteral("1001: Il file ") + path("vuoto.txt") +
                QStringLiteral(" è vuoto: non c'è nulla da convertire."));
    EXPECT_EQ(namesIn(dir.path()), QStringList{"vuoto.txt"});
}

TEST_F(FileJobs, AnEmptyOrBlankM64EndsBeforeTheSaveRequest)
{
    writeBytes(path("vuoto.m64"), "");
    run(DecifraFileMime64, path("vuoto.m64"));
    expectError(QStringLiteral("1001: Il file ") + path("vuoto.m64") +
                QStringLiteral(" è vuoto: non c'è nulla da convertire."));

    messages.messages.clear();
    writeBytes(path("spazi.m64"), "  \r\n\t\r\n \n");
    run(DecifraFileMime64, path("spazi.m64"));
    expectError(QStringLiteral("1003: Il file ") + path("spazi.m64") +
                QStringLiteral(" non contiene dati Mime64 da decodificare."));

    EXPECT_EQ(dialog.requests.size(), 2u); // two open requests, no save request
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"spazi.m64", "vuoto.m64"}));
}

TEST_F(FileJobs, AMalformedM64EndsBeforeTheSaveRequest)
{
    writeBytes(path("rotto.m64"), "Zm9v@@@@\r\n");
    run(DecifraFileMime64, path("rotto.m64"));
    expectError(QStringLiteral("1002: Il file ") + path("rotto.m64") +
                QStringLiteral(" non contiene dati Mime64 validi."));
    EXPECT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(namesIn(dir.path()), QStringList{"rotto.m64"});
}

TEST_F(FileJobs, BothPrintableJobsAcceptAnEmptyFile)
{
    writeBytes(path("vuoto.txt"), "");
    run(ConvertiFilePrintable, path("vuoto.txt"));
    EXPECT_EQ(readBytes(path("vuoto.txt.ptb")), std::string());

    writeBytes(path("vuoto.ptb"), "");
    run(DecifraFilePrintable, path("vuoto.ptb"), path("decodificato.txt"));
    EXPECT_EQ(readBytes(path("decodificato.txt")), std::string());

    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[0].prompt,
              dir.path().toUpper() + QStringLiteral("/VUOTO.TXT.PTB: Conversione eseguita correttamente."));
    EXPECT_EQ(messages.messages[1].prompt,
              dir.path().toUpper() + QStringLiteral("/DECODIFICATO.TXT: Decifrazione eseguita correttamente."));
}

// --- targets that must survive ---

TEST_F(FileJobs, AReadOnlyTargetIsKeptEvenForRoot)
{
    writeBytes(path("a.txt"), "foobar");
    writeBytes(path("a.txt.m64"), "vecchio");
    ASSERT_EQ(::chmod(path("a.txt.m64").toLocal8Bit().constData(), 0444), 0);
    writeBytes(path("dati.m64"), "Zm9v\r\n");

    run(ConvertiFileMime64, path("a.txt"));
    run(DecifraFileMime64, path("dati.m64"), path("a.txt.m64"));

    ASSERT_EQ(messages.messages.size(), 2u);
    for (const RecordedMessage &message : messages.messages) {
        EXPECT_EQ(message.prompt, errnoMessage(EACCES));
        EXPECT_EQ(message.style, 16);
        EXPECT_EQ(message.title, QStringLiteral("Errore"));
    }
    EXPECT_EQ(readBytes(path("a.txt.m64")), std::string("vecchio"));
    EXPECT_EQ(modeOf(path("a.txt.m64")) & 07777, 0444u);
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"a.txt", "a.txt.m64", "dati.m64"}));
}

TEST_F(FileJobs, ADirectorySymlinkOrFifoTargetIsLeftAlone)
{
    struct Case {
        const char *input;
        std::function<void(const QString &)> make;
        std::function<bool(mode_t)> stillThere;
        const char *why;
    };
    writeBytes(path("altro.txt"), "da non toccare");
    const std::vector<Case> cases = {
        {"cartella.txt", [](const QString &p) { ::mkdir(p.toLocal8Bit().constData(), 0755); },
         [](mode_t m) { return S_ISDIR(m); }, "è una cartella"},
        {"collegamento.txt",
         [&](const QString &p) { ::symlink(path("altro.txt").toLocal8Bit().constData(), p.toLocal8Bit().constData()); },
         [](mode_t m) { return S_ISLNK(m); }, "è un collegamento simbolico"},
        {"fifo.txt", [](const QString &p) { ::mkfifo(p.toLocal8Bit().constData(), 0644); },
         [](mode_t m) { return S_ISFIFO(m); }, "è una pipe (FIFO)"},
    };
    for (const Case &each : cases) {
        SCOPED_TRACE(each.input);
        messages.messages.clear();
        const QString input = path(QString::fromUtf8(each.input));
        writeBytes(input, "contenuto");
        each.make(input + ".m64");

        run(ConvertiFileMime64, input);

        expectError(QStringLiteral("1009: ") + input + QStringLiteral(".m64 non è un file ordinario: ") +
                    QString::fromUtf8(each.why) + QLatin1Char('.'));
        EXPECT_TRUE(each.stillThere(modeOf(input + ".m64")));
    }
    EXPECT_EQ(readBytes(path("altro.txt")), std::string("da non toccare"));
    EXPECT_EQ(namesIn(dir.path()).filter(QStringLiteral(".dravolin")), QStringList());
}

TEST_F(FileJobs, ADiskFullWhileWritingKeepsTheOldFileAndLeavesNoTemporary)
{
    std::string input(30000, 'q');
    writeBytes(path("grande.bin"), input);
    const std::string old = "vecchio contenuto, da conservare";
    for (std::size_t after : {std::size_t{0}, std::size_t{7}, std::size_t{20000}}) {
        SCOPED_TRACE(after);
        messages.messages.clear();
        writeBytes(path("grande.bin.m64"), old);
        WriteFailure diskFull(ENOSPC, after);

        run(ConvertiFileMime64, path("grande.bin"));

        expectError(errnoMessage(ENOSPC));
        EXPECT_EQ(readBytes(path("grande.bin.m64")), old);
        EXPECT_EQ(namesIn(dir.path()), (QStringList{"grande.bin", "grande.bin.m64"}));
    }
}

TEST_F(FileJobs, ADiskFullWhileSavingANewFileLeavesNothing)
{
    writeBytes(path("dati.ptb"), "testo=20\r\n");
    WriteFailure diskFull(ENOSPC, 2);
    run(DecifraFilePrintable, path("dati.ptb"), path("nuovo.txt"));
    expectError(errnoMessage(ENOSPC));
    EXPECT_EQ(namesIn(dir.path()), QStringList{"dati.ptb"});
}

// --- files beyond the library's 32-bit counts ---

TEST_F(FileJobs, FilesTooLargeForTheLibraryAreRefusedBeforeReading)
{
    // Sparse files: the size is there, the disk blocks are not.
    const auto makeSparse = [&](const char *name, std::uintmax_t size) {
        writeBytes(path(name), "");
        std::filesystem::resize_file(path(name).toStdString(), size);
    };
    makeSparse("enorme.bin", 2147483648);
    makeSparse("enorme.bin.m64", 2147483648);
    // 1610612736 bytes make 2147483648 Mime64 characters before the line breaks.
    makeSparse("medio.bin", 1610612736);

    const QString tooLarge =
        QStringLiteral(" è troppo grande: si possono convertire al massimo 2147483647 byte.");
    run(ConvertiFileMime64, path("enorme.bin"));
    run(ConvertiFilePrintable, path("enorme.bin"));
    run(DecifraFileMime64, path("enorme.bin.m64"));
    run(DecifraFilePrintable, path("enorme.bin.m64"));
    run(ConvertiFileMime64, path("medio.bin"));

    ASSERT_EQ(messages.messages.size(), 5u);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(messages.messages[i].prompt, QStringLiteral("1004: Il file ") + path("enorme.bin") + tooLarge);
    for (int i = 2; i < 4; ++i)
        EXPECT_EQ(messages.messages[i].prompt,
                  QStringLiteral("1004: Il file ") + path("enorme.bin.m64") + tooLarge);
    EXPECT_EQ(messages.messages[4].prompt,
              QStringLiteral("1005: Il file ") + path("medio.bin") +
                  QStringLiteral(" è troppo grande: la sua codifica Mime64 supererebbe 2147483647 byte."));
    EXPECT_EQ(namesIn(dir.path()), (QStringList{"enorme.bin", "enorme.bin.m64", "medio.bin"}));
}

// --- the library itself missing ---

TEST_F(FileJobs, AMissingLibraryFileIsNamed)
{
    const QString missingPath = path("altrove/libdravolin.so");
    ConversionLibrary missing(missingPath);
    JobContext withoutLibrary{dialog, messages, missing};
    writeBytes(path("a.txt"), "foobar");
    dialog.answer(path("a.txt"));
    ConvertiFileMime64(withoutLibrary);

    const RecordedMessage message = onlyMessage();
    const QString prefix = QStringLiteral("1006: Impossibile caricare la libreria di conversione ") +
                           missingPath + QStringLiteral(": ");
    EXPECT_TRUE(message.prompt.startsWith(prefix)) << message.prompt.toStdString();
    EXPECT_GT(message.prompt.size(), prefix.size()); // the loader's own words follow
    EXPECT_EQ(message.title, QStringLiteral("Errore"));
    EXPECT_EQ(namesIn(dir.path()), QStringList{"a.txt"});
}

TEST_F(FileJobs, AMissingLibraryFunctionIsNamed)
{
    // The C library loads fine but has none of our functions.
    Dl_info info {};
    ASSERT_NE(::dladdr(reinterpret_cast<void *>(&::getpid), &info), 0);
    const QString libc = QString::fromLocal8Bit(info.dli_fname);
    ConversionLibrary wrong(libc);
    JobContext withWrongLibrary{dialog, messages, wrong};
    writeBytes(path("a.txt"), "foobar");
    dialog.answer(path("a.txt"));
    ConvertiFileMime64(withWrongLibrary);

    expectError(QStringLiteral("1007: La funzione ConvertiMime64 non si trova nella libreria di conversione ") +
                libc + QLatin1Char('.'));
    EXPECT_EQ(namesIn(dir.path()), QStringList{"a.txt"});
}

} // namespace
