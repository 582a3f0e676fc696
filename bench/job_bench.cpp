// The four file jobs through the real job code, with scripted dialogs, beside copying the same
// input and flushing it to disk; each reports its peak resident memory over the input's size.
//
//   job_bench [--benchmark_filter=...]      (DRAVOLIN_BENCH_MIB sets the input size, default 256)
//
// The library is the libdravolin.so beside this program; DRAVOLIN_CODEC forces its path.

#include "file_jobs.h"
#include "support.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::size_t inputBytes()
{
    const char *mib = std::getenv("DRAVOLIN_BENCH_MIB");
    return (mib ? std::strtoull(mib, nullptr, 10) : 256) << 20;
}

// The inputs, written once: random bytes with their Mime64 file, prose with its Printable file.
struct Inputs {
    QTemporaryDir dir;
    QString binary = dir.filePath("dati.bin"), prose = dir.filePath("testo.txt");

    Inputs()
    {
        writeFile(binary, randomBytes(inputBytes(), 1));
        writeFile(prose, italianProse(inputBytes(), 2));
        run(ConvertiFileMime64, binary);
        run(ConvertiFilePrintable, prose);
    }
    void run(const FileJob &job, const QString &input)
    {
        Seen seen;
        ScriptedDialog dialog(seen);
        ScriptedMessages messages(seen);
        DirectWorkRunner work;
        static ConversionLibrary library;
        dialog.answers = { input, dir.filePath("uscita") };
        JobRunner(dialog, messages, work, library).run(job);
        if (seen.empty() || !seen.back().startsWith("64|"))
            throw std::runtime_error(seen.empty() ? "no answer" : seen.back().toStdString());
    }
};

Inputs &inputs()
{
    static Inputs made;
    return made;
}

// Peak resident memory since the last reset, in bytes; resets it again.
double peakResident()
{
    std::ifstream status("/proc/self/status");
    double kib = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            kib = std::stod(line.substr(6));
    std::ofstream("/proc/self/clear_refs") << "5";
    return kib * 1024;
}

void BM_Job(benchmark::State &state, const FileJob &job, bool prose, const char *extension)
{
    Inputs &in = inputs();
    const QString input = (prose ? in.prose : in.binary) + extension;
    peakResident();
    for (auto _ : state)
        in.run(job, input);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes()));
    state.counters["peak/input"] = peakResident() / static_cast<double>(inputBytes());
}

// The baseline: what any job that reads a file and writes a durable one must at least do.
void BM_CopyAndSync(benchmark::State &state)
{
    Inputs &in = inputs();
    for (auto _ : state) {
        const std::string bytes = readFile(in.binary);
        const int fd = ::open(QFile::encodeName(in.dir.filePath("copia")), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0)
            state.SkipWithError("copy failed");
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputBytes()));
}

BENCHMARK(BM_CopyAndSync)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Job, ConvertiFileMime64, ConvertiFileMime64, false, "")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Job, DecifraFileMime64, DecifraFileMime64, false, ".m64")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Job, ConvertiFilePrintable, ConvertiFilePrintable, true, "")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Job, DecifraFilePrintable, DecifraFilePrintable, true, ".ptb")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
