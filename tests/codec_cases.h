#pragma once
// Generated inputs and a format checker shared by the library tests, the
// fuzzers and the benchmarks. The checker is written from the rules alone,
// never from the library's code.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace dravolin::cases {

// SplitMix64: the same stream on every platform and standard library.
struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t bound)
    {
        return static_cast<std::size_t>(next() % bound);
    } // uniform enough for test data
};

inline std::string randomBytes(std::size_t n, std::uint64_t seed)
{
    SplitMix64 rng { seed };
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; i += 8)
        for (std::uint64_t word = rng.next(), k = i; k < std::min(n, i + 8); ++k, word >>= 8)
            out[k] = static_cast<char>(word);
    return out;
}

// Bytes drawn from a small alphabet that stresses one codec's rules.
inline std::string randomFrom(std::string_view alphabet, std::size_t n, std::uint64_t seed)
{
    SplitMix64 rng { seed };
    std::string out(n, '\0');
    for (auto &c : out)
        c = alphabet[rng.below(alphabet.size())];
    return out;
}

// Italian prose in CR LF lines of 40 to 110 characters: about 3% of the
// characters accented (two UTF-8 bytes each), now and then an '=' and a line
// ending in blanks, as typed mail and notes look.
inline std::string italianProse(std::size_t bytes, std::uint64_t seed)
{
    const auto words = [](const char *list) {
        std::istringstream in(list);
        return std::vector<std::string> { std::istream_iterator<std::string>(in),
                                          std::istream_iterator<std::string>() };
    };
    static const std::vector<std::string> kPlain
        = words("il la di che non una per con del nel sono come anche questo quando dopo sempre molto casa tempo "
                "giorno lavoro strada mattina sera lettera amico paese acqua pane vino tavola finestra ufficio treno "
                "stazione mercato piazza scrivere leggere parlare tornare guardare aspettare domani ieri insieme "
                "ancora forse bene piano lungo breve nuovo vecchio grande piccolo bello fratello sorella madre padre "
                "conto prezzo");
    static const std::vector<std::string> kAccented
        = words("\xc3\xa8 perch\xc3\xa9 citt\xc3\xa0 pi\xc3\xb9 per\xc3\xb2 gi\xc3\xa0 cos\xc3\xac caff\xc3\xa8 "
                "virt\xc3\xb9 luned\xc3\xac "
                "universit\xc3\xa0 qualit\xc3\xa0 pu\xc3\xb2 s\xc3\xac met\xc3\xa0 libert\xc3\xa0");
    static constexpr std::string_view kPunctuation = ",.;:!?";
    SplitMix64 rng { seed };
    std::string out;
    out.reserve(bytes + 128);
    std::size_t lineLength = 0, lineTarget = 40 + rng.below(71);
    bool sentenceStart = true;
    while (out.size() < bytes) {
        const std::size_t roll = rng.below(1000);
        std::string word = roll < 200 ? kAccented[rng.below(kAccented.size())]
            : roll < 208              ? std::to_string(rng.below(1000)) + " = " + std::to_string(rng.below(1000))
                                      : kPlain[rng.below(kPlain.size())];
        if (sentenceStart && word[0] >= 'a' && word[0] <= 'z')
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        sentenceStart = false;
        if (rng.below(8) == 0) {
            word += kPunctuation[rng.below(kPunctuation.size())];
            sentenceStart = word.back() != ',';
        }
        out += lineLength > 0 ? " " + word : word;
        lineLength += word.size() + (lineLength > 0);
        if (lineLength >= lineTarget) {
            if (rng.below(20) == 0)
                out.append(1 + rng.below(3), rng.below(2) ? ' ' : '\t');
            out += rng.below(6) == 0 ? "\r\n\r\n" : "\r\n"; // now and then a paragraph
            lineLength = 0;
            lineTarget = 40 + rng.below(71);
        }
    }
    out.resize(bytes);
    return out;
}

// The quoted-printable rules our encoder keeps, checked on its output alone:
// "" when kept, else the first fault. Literals only for 33..126 but '=' and
// for blanks not ending a line; "=XY" with upper-case digits otherwise;
// lines of at most 76; a soft break only on a full line, in the style of
// the text's first line break.
inline std::string printableFault(std::string_view plain, std::string_view text)
{
    const std::size_t lf = plain.find('\n');
    const std::string soft = lf != plain.npos && (lf == 0 || plain[lf - 1] != '\r') ? "=\n" : "=\r\n";
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    std::size_t column = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::string_view rest = text.substr(i);
        const std::string at = " at " + std::to_string(i);
        const bool lineEnds = rest.size() == 1 || rest[1] == '\n' || rest.substr(1, 2) == "\r\n";
        std::size_t width = 1;
        if (rest.starts_with(soft)) {
            if (column < 73)
                return "soft break on a line of " + std::to_string(column) + at;
            i += soft.size(), column = 0;
            continue;
        } else if (c == '\n' || rest.starts_with("\r\n")) {
            i += c == '\n' ? 1 : 2, column = 0;
            continue;
        } else if (c == '=' && rest.size() >= 3 && isHex(rest[1]) && isHex(rest[2])) {
            const int byte = std::stoi(std::string(rest.substr(1, 2)), nullptr, 16);
            const bool blank = byte == ' ' || byte == '\t';
            const bool beforeBreak = rest.size() == 3 || rest[3] == '\n' || rest.substr(3, 2) == "\r\n";
            if ((byte > 32 && byte < 127 && byte != '=') || byte == '\n' || (blank && !beforeBreak))
                return "needless escape" + at;
            if (byte == '\r' && rest.substr(3, 1) == "\n")
                return "CR LF split" + at;
            width = 3;
        } else if (c < 32 ? c != ' ' && (c != '\t' || lineEnds) : (c > 126 || c == '=' || (c == ' ' && lineEnds))) {
            return "byte " + std::to_string(c) + " unescaped" + at;
        }
        if ((column += width) > 76)
            return "line over 76" + at;
        i += width;
    }
    return {};
}

} // namespace dravolin::cases
