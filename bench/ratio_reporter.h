#pragma once
// Console output of Google Benchmark, then each run's throughput as a ratio
// to its baseline in the same run: "BM_X/<case>" against "<baseline>/<case>",
// the case being the last part of the name. A run with a "cycles_per_64B"
// counter named "<run>InCache" shows that count beside <run>'s ratio.

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
            if (run.error_occurred || !kept)
                continue;
            const std::string &name = run.run_name.function_name;
            if (const auto cycles = run.counters.find("cycles_per_64B"); cycles != run.counters.end())
                m_cycles[name] = cycles->second.value;
            else if (rate != run.counters.end())
                m_rates[name] = rate->second.value;
        }
    }

    void printSummary() const
    {
        std::printf("\nThroughput as a ratio to %s of the same input bytes:\n", m_baseline.c_str());
        std::printf("%-40s %10s %10s %7s%s\n", "benchmark", "MB/s", "base MB/s", "ratio",
                    m_cycles.empty() ? "" : "  in-cache TSC ticks/64 B (baseline)");
        for (const auto &[name, rate] : m_rates) {
            const std::string item = name.substr(name.rfind('/') + 1);
            const auto base = m_rates.find(m_baseline + "/" + item);
            if (base == m_rates.end() || name == base->first)
                continue;
            std::printf("%-40s %10.0f %10.0f %7.3f", name.c_str(), rate / 1e6, base->second / 1e6, rate / base->second);
            const auto cycles = m_cycles.find(name + "InCache"), baseCycles = m_cycles.find(base->first + "InCache");
            if (cycles != m_cycles.end() && baseCycles != m_cycles.end())
                std::printf("  %8.1f (%.1f)", cycles->second, baseCycles->second);
            std::printf("\n");
        }
    }

private:
    std::string m_baseline;
    std::map<std::string, double> m_rates;
    std::map<std::string, double> m_cycles; // in-cache runs' TSC ticks per 64 input bytes
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
