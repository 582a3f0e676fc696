#pragma once
// Generated inputs, a format checker written from the rules alone and a
// runner over every codec path, for the library tests, fuzzer and benchmarks.

#include "codec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace dravolin::cases {

// n bytes from an alphabet, or any bytes; the same stream on every platform.
inline std::string randomFrom(std::string_view alphabet, std::size_t n, std::uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::string out(n, '\0');
    for (char &c : out)
        c = alphabet.empty() ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
    return out;
}

inline std::string randomBytes(std::size_t n, std::uint64_t seed)
{
    return randomFrom({}, n, seed);
}

// Italian prose in CR LF lines of 40 to 110 characters, accented words, now
// and then an '=' and a line ending in blanks, as typed mail and notes look.
inline std::string italianProse(std::size_t bytes, std::uint64_t seed)
{
    static constexpr std::string_view kWords[]
        = { "il",       "la",      "di",       "che",     "non",    "una",     "per",   "con",      "sono",
            "come",     "anche",   "questo",   "quando",  "dopo",   "sempre",  "molto", "casa",     "tempo",
            "giorno",   "lavoro",  "strada",   "lettera", "amico",  "paese",   "acqua", "finestra", "ufficio",
            "stazione", "mercato", "scrivere", "tornare", "domani", "insieme", "ancora" };
    static constexpr std::string_view kAccented[] = { "\xc3\xa8",   "perch\xc3\xa9", "citt\xc3\xa0", "pi\xc3\xb9",
                                                      "gi\xc3\xa0", "cos\xc3\xac",   "caff\xc3\xa8", "pu\xc3\xb2" };
    std::mt19937_64 rng(seed);
    std::string out;
    for (std::size_t line = 0, target = 40; out.size() < bytes;) {
        const std::size_t roll = rng() % 100;
        std::string word(roll < 17 ? kAccented[rng() % std::size(kAccented)] : kWords[rng() % std::size(kWords)]);
        word += roll == 99 ? " = 2," : roll > 90 ? "." : "";
        out += (line > 0 ? " " : "") + word;
        line += word.size() + (line > 0);
        if (line >= target) {
            out += rng() % 20 == 0 ? " \t\r\n" : "\r\n";
            line = 0, target = 40 + rng() % 71;
        }
    }
    out.resize(bytes);
    return out;
}

// The first fault of our encoder's output against the quoted-printable rules, or "": literals only
// for 33..126 but '=' and for blanks not ending a line, else "=XY" in upper case; lines of at most
// 76; a soft break only on a full line, in the style of the first line break.
inline std::string printableFault(std::string_view plain, std::string_view text)
{
    const std::size_t lf = plain.find('\n');
    const std::string soft = lf != plain.npos && (lf == 0 || plain[lf - 1] != '\r') ? "=\n" : "=\r\n";
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    const auto breakAt
        = [&](std::size_t i) { return i == text.size() || text.substr(i, 1) == "\n" || text.substr(i, 2) == "\r\n"; };
    for (std::size_t i = 0, column = 0; i < text.size(); column = text[i - 1] == '\n' ? 0 : column) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::string at = " at " + std::to_string(i);
        if (text.substr(i).starts_with(soft) && column < 73)
            return "soft break on a line of " + std::to_string(column) + at;
        if (text.substr(i).starts_with(soft) || breakAt(i)) {
            i += text.substr(i).starts_with(soft) ? soft.size() : c == '\n' ? 1 : 2;
            continue;
        }
        const bool escape = c == '=' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2]);
        const int byte = escape ? std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16) : c;
        const bool blank = byte == ' ' || byte == '\t', ends = breakAt(i + (escape ? 3 : 1));
        if (escape && ((byte > 32 && byte < 127 && byte != '=') || byte == '\n' || (blank && !ends)))
            return "needless escape" + at;
        if (escape && byte == '\r' && text.substr(i + 3, 1) == "\n")
            return "CR LF split" + at;
        if (!escape && (c < 32 || c > 126 || c == '=') && (c != '\t' || ends))
            return "byte " + std::to_string(c) + " unescaped" + at;
        if (!escape && blank && ends)
            return "blank before a line end" + at;
        if ((column += escape ? 3 : 1) > 76)
            return "line over 76" + at;
        i += escape ? 3 : 1;
    }
    return {};
}

// The wrapped layout from the rules: lines of 76, each ending CR LF.
inline std::string wrapped(std::string_view single)
{
    std::string out;
    for (std::size_t pos = 0; pos < single.size(); pos += 76)
        out += std::string(single.substr(pos, 76)) + "\r\n";
    return out;
}

// One operation on each of codec.h's paths, the input in an exact heap block,
// the room (a decoder's capacity, else what the encoder needs) followed by
// guard bytes: the scalar count and bytes, and the first path that differs
// from them, in the count or in the room the answer may use, or goes past it.
enum class Op { Mime64, Mime64Wrapped, Unmime64, Printable, Unprintable };
struct EveryPath {
    std::int64_t count;
    std::string bytes;
    const char *differs;
    bool operator==(const EveryPath &) const = default;
};
inline EveryPath onEveryPath(Op op, const std::string &input, std::size_t capacity = 0)
{
    const std::size_t n = input.size();
    const bool printable = op == Op::Printable || op == Op::Unprintable;
    const auto layout = op == Op::Mime64 ? Mime64Layout::SingleLine : Mime64Layout::Wrapped;
    const std::size_t room = op == Op::Unmime64 ? capacity
        : printable                             ? (op == Op::Printable ? printableEncodedBound(n) : n)
                                                : mime64EncodedSize(n, layout);
    const auto run = [&](const Codec &c, const char *in, char *out) {
        if (printable)
            return std::int64_t(op == Op::Printable ? c.printableEncode(in, n, out) : c.printableDecode(in, n, out));
        if (op == Op::Unmime64)
            return c.mime64Decode(in, n, reinterpret_cast<std::uint8_t *>(out), room);
        return c.mime64Encode(reinterpret_cast<const std::uint8_t *>(in), n, out, layout), std::int64_t(0);
    };
    EveryPath scalar {};
    for (const Codec *codec : supportedCodecs()) {
        const std::unique_ptr<char[]> in(new char[n]);
        std::memcpy(in.get(), input.data(), n);
        std::string out(room + 64, '\xA5');
        const std::int64_t count = run(*codec, in.get(), out.data());
        const bool past = count > std::int64_t(room) || out.find_first_not_of('\xA5', room) != out.npos;
        out.resize(printable ? std::size_t(std::max<std::int64_t>(count, 0)) : room);
        if (codec == supportedCodecs()[0])
            scalar = { count, out, nullptr };
        if (!scalar.differs && (past || count != scalar.count || out != scalar.bytes))
            scalar.differs = codec->name;
    }
    if (op == Op::Unmime64) // compared in all the room, answered as far as counted
        scalar.bytes.resize(std::size_t(std::max<std::int64_t>(scalar.count, 0)));
    return scalar;
}

} // namespace dravolin::cases
