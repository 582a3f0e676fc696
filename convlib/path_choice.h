#pragma once
// Which codec path each operation takes on a CPU, as a pure function of what
// CPUID says, so that every row of the choice can be tested on any machine.

namespace dravolin {

enum class CpuVendor { Amd, Intel, Other };

struct CpuFacts {
    CpuVendor vendor = CpuVendor::Other;
    unsigned family = 0; // base family plus extended family, as vendors number them
    bool avx2 = false; // the avx2 path's features are all there
    bool avx512 = false; // the avx512 path's features are all there
};

enum class Operation { Mime64Encode, Mime64Decode, PrintableEncode, PrintableDecode };

// The name of the path operation takes on cpu: "avx512", "avx2" or "scalar".
const char *preferredPath(Operation operation, const CpuFacts &cpu);

// This machine's facts, from CPUID and the paths' feature checks.
CpuFacts thisCpu();

} // namespace dravolin
