#pragma once
// The 64-bit bit deposit (BMI2 pdep) on both x86 targets: the instruction on
// x64, two 32-bit ones where only those exist.

#include <cstdint>

#include <immintrin.h>

namespace dravolin {

// The low half of mask takes the low bits of bits, the high half the bits
// after those.
__attribute__((target("bmi2"))) inline std::uint64_t depositBitsIn32(std::uint64_t bits, std::uint64_t mask)
{
    const auto low = static_cast<std::uint32_t>(mask), high = static_cast<std::uint32_t>(mask >> 32);
    const std::uint64_t lowDeposit = _pdep_u32(static_cast<std::uint32_t>(bits), low);
    const std::uint64_t highDeposit = _pdep_u32(static_cast<std::uint32_t>(bits >> __builtin_popcount(low)), high);
    return lowDeposit | highDeposit << 32;
}

__attribute__((target("bmi2"))) inline std::uint64_t depositBits(std::uint64_t bits, std::uint64_t mask)
{
#if defined(__x86_64__)
    return _pdep_u64(bits, mask);
#else
    return depositBitsIn32(bits, mask);
#endif
}

} // namespace dravolin
