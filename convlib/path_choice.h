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

// The vendor CPUID leaf 0 names in EBX, EDX, ECX, in that order.
constexpr CpuVendor vendorOf(unsigned ebx, unsigned ecx, unsigned edx)
{
    if (ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163) // "AuthenticAMD"
        return CpuVendor::Amd;
    if (ebx == 0x756e6547 && edx == 0x49656e69 && ecx == 0x6c65746e) // "GenuineIntel"
        return CpuVendor::Intel;
    return CpuVendor::Other;
}

// The family from CPUID leaf 1's EAX: the base family, plus the extended
// family when the base one is 0xF.
constexpr unsigned familyOf(unsigned eax)
{
    const unsigned baseFamily = (eax >> 8) & 0xF;
    return baseFamily == 0xF ? baseFamily + ((eax >> 20) & 0xFF) : baseFamily;
}

enum class Operation { Mime64Encode, Mime64Decode, PrintableEncode, PrintableDecode };

// The name of the path operation takes on cpu: "avx512", "avx2" or "scalar".
const char *preferredPath(Operation operation, const CpuFacts &cpu);

// This machine's facts, from CPUID and the paths' feature checks.
CpuFacts thisCpu();

} // namespace dravolin
