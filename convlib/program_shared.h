#pragma once
// Provisional: replaced by the library's shared header on merge.

#include <cstddef>

namespace dravolin {

enum class Mime64Layout { Wrapped, SingleLine };

inline constexpr std::size_t mime64EncodedSize(std::size_t n, Mime64Layout layout)
{
    const std::size_t characters = (n + 2) / 3 * 4;
    return layout == Mime64Layout::SingleLine ? characters : characters + 2 * ((characters + 75) / 76);
}

} // namespace dravolin
