#pragma once
// Console output of Google Benchmark, then each run's throughput as a ratio
// to its baseline in the same run: "BM_X/<case>" against "<baseline>/<case>",
// the case being the last part of the name.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter(OutputOptions options, std::string baseline)
        : ConsoleReporter(options)
        , m_baseline(std::move(baseline))
    {
    }

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            // Single runs, or the median of repetitions.
            const bool kept = run.run_type == Run::RT_Iteration || run.aggregate_name == "median";
            if (!run.error_occurred && kept && rate != run.counters.end())
                m_rates[run.run_name.function_name] = rate->second.value;
        }
    }

    void printSummary() const
    {
        std::printf("\nThroughput as a ratio to %s of the same input bytes:\n", m_baseline.c_str());
        std::printf("%-40s %10s %10s %7s\n", "benchmark", "MB/s", "base MB/s", "ratio");
        for (const auto &[name, rate] : m_rates) {
            const std::string item = name.substr(name.rfind('/') + 1);
            const auto base = m_rates.find(m_baseline + "/" + item);
            if (base != m_rates.end() && name != base->first)
                std::printf("%-40s %10.0f %10.0f %7.3f\n", name.c_str(), rate / 1e6, base->second / 1e6,
                            rate / base->second);
        }
    }

private:
    std::string m_baseline;
    std::map<std::string, double> m_rates;
};

// Runs every registered benchmark with a RatioReporter; main() of a benchmark.
inline int runWithRatios(int argc, char **argv, const char *baseline)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter(benchmark::ConsoleReporter::OO_Tabular, baseline);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
