#pragma once
// Generated inputs and format checkers shared by the codec tests and the
// benchmark. The checkers are written from the rules alone, never from the
// library's code.

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

// Each checker returns "" when the text keeps every rule, else the first fault.

inline bool isBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The wrapped base64 of n bytes: 76-character lines (the last may be
// shorter), each ending CR LF, the alphabet only, exactly the padding n needs.
inline std::string mime64WrappedFault(std::size_t n, std::string_view text)
{
    const std::size_t chars = (n + 2) / 3 * 4, padding = (3 - n % 3) % 3;
    std::string flat;
    for (std::size_t pos = 0, end; pos < text.size(); pos = end + 2) {
        if ((end = text.find("\r\n", pos)) == std::string_view::npos)
            return "no CR LF after " + std::to_string(pos);
        if (end == pos || end - pos > 76 || (end - pos < 76 && end + 2 != text.size()))
            return "line of " + std::to_string(end - pos) + " characters at " + std::to_string(pos);
        flat += text.substr(pos, end - pos);
    }
    if (flat.size() != chars)
        return std::to_string(flat.size()) + " characters, expected " + std::to_string(chars);
    for (std::size_t i = 0; i < chars; ++i)
        if (i < chars - padding ? !isBase64Char(flat[i]) : flat[i] != '=')
            return "unexpected character " + std::to_string(i) + " of the data";
    return {};
}

// The quoted-printable of plain as our encoder must write it: literals only
// for 33..126 but '=' and for inner blanks; '=' and two upper-case hex digits
// for the rest; hard breaks (CR LF, LF) kept; lines of at most 76 characters,
// broken only when full, with soft breaks in the style of the text's first
// line break (LF if that is a lone LF, else CR LF).
inline std::string printableFault(std::string_view plain, std::string_view encoded)
{
    const std::size_t lf = plain.find('\n');
    const std::string_view soft = lf != std::string_view::npos && (lf == 0 || plain[lf - 1] != '\r') ? "\n" : "\r\n";
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    struct Token {
        char kind;
        unsigned char byte;
        std::size_t pos;
    }; // 'l'iteral, 'e'scape, 's'oft, 'h'ard break, 'E'nd
    std::vector<Token> tokens;
    std::size_t line = 0; // characters on the current line
    for (std::size_t i = 0; i < encoded.size();) {
        const auto c = static_cast<unsigned char>(encoded[i]);
        if (c == '=' && i + 2 < encoded.size() && hex(encoded[i + 1]) >= 0 && hex(encoded[i + 2]) >= 0) {
            tokens.push_back({ 'e', static_cast<unsigned char>(hex(encoded[i + 1]) * 16 + hex(encoded[i + 2])), i });
            line += 3, i += 3;
        } else if (c == '=' && encoded.substr(i + 1, soft.size()) == soft) {
            if (line + 1 < 74) // the next token takes at most 3 characters: a line broken with room for it was not full
                return "soft break after " + std::to_string(line) + " characters at " + std::to_string(i);
            tokens.push_back({ 's', 0, i });
            ++line, i += 1 + soft.size();
        } else if (c == '\n' || encoded.substr(i, 2) == "\r\n") {
            tokens.push_back({ 'h', static_cast<unsigned char>(c), i });
            i += c == '\n' ? 1 : 2;
        } else if ((c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t') {
            tokens.push_back({ 'l', c, i });
            ++line, ++i;
        } else {
            return "byte " + std::to_string(c) + " unencoded, or '=' unfit, at " + std::to_string(i);
        }
        if (line > 76)
            return "line longer than 76 at " + std::to_string(i);
        if (tokens.back().kind == 's' || tokens.back().kind == 'h')
            line = 0;
    }
    tokens.push_back({ 'E', 0, encoded.size() });
    for (std::size_t t = 0; t + 1 < tokens.size(); ++t) {
        const Token &token = tokens[t];
        std::size_t next = t + 1;
        while (tokens[next].kind == 's')
            ++next;
        const bool breakOrEnd = tokens[next].kind == 'h' || tokens[next].kind == 'E',
                   blank = token.byte == ' ' || token.byte == '\t';
        const std::string at = " at " + std::to_string(token.pos);
        if (token.kind == 'l' && blank && breakOrEnd)
            return "blank left before a line break or the end" + at;
        if (token.kind == 'e' && ((token.byte >= 33 && token.byte <= 126 && token.byte != '=') || token.byte == '\n'))
            return "byte encoded that stands as itself" + at;
        if (token.kind == 'e' && blank && !breakOrEnd)
            return "blank encoded away from a line break" + at;
        if (token.kind == 'e' && token.byte == '\r' && tokens[next].kind == 'h' && tokens[next].byte == '\n')
            return "CR LF split into =0D and LF" + at;
    }
    return {};
}

} // namespace dravolin::cases
