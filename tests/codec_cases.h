#pragma once
// Known answers and generated inputs shared by the codec tests and the benchmark.
// Expected texts come from RFC 4648 / RFC 2045, from python3's base64 module,
// or from reasoning over the rules by hand; none is computed by the library.

#include <iterator>
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dravolin::cases {

using namespace std::string_view_literals;

// ---- Mime64 -------------------------------------------------------------

struct Mime64Vector {
    std::string_view bytes;
    std::string_view text; // one line, no line break
};

// RFC 4648, section 10.
inline constexpr Mime64Vector kRfc4648Vectors[] = {
    {""sv, ""sv},
    {"f"sv, "Zg=="sv},
    {"fo"sv, "Zm8="sv},
    {"foo"sv, "Zm9v"sv},
    {"foob"sv, "Zm9vYg=="sv},
    {"fooba"sv, "Zm9vYmE="sv},
    {"foobar"sv, "Zm9vYmFy"sv},
};

// Hand-reasoned bit patterns at the edges of the alphabet.
inline constexpr Mime64Vector kEdgeVectors[] = {
    {"\0"sv, "AA=="sv},
    {"\0\0\0"sv, "AAAA"sv},
    {"\xff\xff\xff"sv, "////"sv},
    {"\xfb\xff\xbf"sv, "+/+/"sv},
    {"\xff"sv, "/w=="sv},
};

// Bytes 0..255 in order, as python3's base64.b64encode gives them, cut into
// the 76-character lines of the wrapped layout.
inline constexpr std::string_view kAllBytesLines[] = {
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4"sv,
    "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx"sv,
    "cnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmq"sv,
    "q6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj"sv,
    "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w=="sv,
};

// Texts the decoder accepts, and the bytes they stand for.
struct Mime64Reading {
    std::string_view text;
    std::string_view bytes;
};

inline constexpr Mime64Reading kLenientMime64[] = {
    {""sv, ""sv},
    {" \t\r\n"sv, ""sv},
    {"\xEF\xBB\xBF"sv, ""sv},
    {"Zg"sv, "f"sv},
    {"Zg="sv, "f"sv},
    {"Zm8"sv, "fo"sv},
    {"Zm9vYg"sv, "foob"sv},
    {"Zm9vYg="sv, "foob"sv},
    {"Zm9vYmE"sv, "fooba"sv},
    {"Zm9v\r\nYmFy\r\n"sv, "foobar"sv},
    {"Zm9v\nYmFy\n"sv, "foobar"sv},
    {"Zm9v\nYmFy"sv, "foobar"sv},
    {" Z m\t9 v \r"sv, "foo"sv},
    {"\r\n\r\nZm9v\r\n\r\n"sv, "foo"sv},
    {"\xEF\xBB\xBFZm9v"sv, "foo"sv},
    {"\xEF\xBB\xBF\r\nZm9vYmFy\r\n"sv, "foobar"sv},
    {"Zg= ="sv, "f"sv},
    {"Zg=\r\n=\r\n"sv, "f"sv},
    {"Zg==\r\n"sv, "f"sv},
    {"Zm8=\n"sv, "fo"sv},
    {"Zm8 ="sv, "fo"sv},
    {"Z g = ="sv, "f"sv},
    {"Zm9vYmFy\t \t"sv, "foobar"sv},
    {"A\nA\nA\nA\n"sv, "\0\0\0"sv},
};

// Texts the decoder must call malformed, each for a reason named beside it.
inline constexpr std::string_view kMalformedMime64[] = {
    "Zm9v!"sv,                // outside the alphabet
    "!Zm9v"sv,
    "Zm-v"sv,                 // URL-safe alphabet is not ours
    "Zm_v"sv,
    "Zm9v\0"sv,               // NUL is data, not an end
    "Zm9v\x0b"sv,             // vertical tab is not skipped
    "Zm9v\x0c"sv,             // nor is form feed
    "Zm9v\xc3\xa8"sv,         // 8-bit bytes
    "Zm9v\xEF\xBB\xBF"sv,     // a byte-order mark only leads
    "\xEF\xBB\xBF\xEF\xBB\xBFZm9v"sv,
    "\xEF\xBBZm9v"sv,         // a broken byte-order mark
    "Zg==Zg=="sv,             // data after the padding
    "Zg==\r\nZg=="sv,
    "Zg==a"sv,
    "Zg=a"sv,
    "Zg=a="sv,
    "=Zg"sv,                  // '=' only at the end
    "Zm=9v"sv,
    "QUJD="sv,                // too much padding
    "QUI=="sv,
    "Zm9v="sv,
    "Zm9v=="sv,
    "Zg==="sv,
    "Zm8=="sv,
    "="sv,
    "=="sv,
    "===="sv,
    "Z"sv,                    // a last group of one character
    "Z="sv,
    "Z=="sv,
    "Zm9vY"sv,
    "Zm9vY=="sv,
    "Zm9vY==="sv,
    "Zm9v\r\nY\r\n"sv,
};

// ---- Printable ----------------------------------------------------------

struct PrintableCase {
    std::string_view plain;
    std::string_view encoded;
};

// Encodings short enough that no soft break is needed, so each is exact.
inline constexpr PrintableCase kPrintableEncodings[] = {
    {""sv, ""sv},
    {"Hello, world!"sv, "Hello, world!"sv},
    {"!~"sv, "!~"sv},                       // 33 and 126 stand
    {"a=b"sv, "a=3Db"sv},
    {"="sv, "=3D"sv},
    {"=="sv, "=3D=3D"sv},
    {"\x7f"sv, "=7F"sv},
    {"\0"sv, "=00"sv},
    {"a\0b"sv, "a=00b"sv},
    {"\x1f\x0c\x08"sv, "=1F=0C=08"sv},
    {"\xff\x80\xaa"sv, "=FF=80=AA"sv},      // upper-case hex
    {"caff\xc3\xa8"sv, "caff=C3=A8"sv},     // "caffè" in UTF-8
    {"a b\tc"sv, "a b\tc"sv},               // inner blanks stand
    {" "sv, "=20"sv},                       // a blank at the very end
    {"\t"sv, "=09"sv},
    {"a "sv, "a=20"sv},
    {"a\t"sv, "a=09"sv},
    {"a  "sv, "a =20"sv},                   // only the last blank is encoded
    {"a \t"sv, "a =09"sv},
    {"a \r\nb"sv, "a=20\r\nb"sv},           // a blank right before a break
    {"a\t\nb"sv, "a=09\nb"sv},
    {"a  \r\n"sv, "a =20\r\n"sv},
    {" \n"sv, "=20\n"sv},
    {"x\r\n "sv, "x\r\n=20"sv},
    {"a\r\nb"sv, "a\r\nb"sv},               // hard breaks are kept as they are
    {"a\nb"sv, "a\nb"sv},
    {"\r\n\r\n"sv, "\r\n\r\n"sv},
    {"\n\n"sv, "\n\n"sv},
    {"a\r\nb\nc"sv, "a\r\nb\nc"sv},
    {"a\n\r\nb"sv, "a\n\r\nb"sv},
    {"a\rb"sv, "a=0Db"sv},                  // a lone CR is no line break
    {"\r"sv, "=0D"sv},
    {"a\r"sv, "a=0D"sv},
    {"\r\r\n"sv, "=0D\r\n"sv},
    {"\n\r"sv, "\n=0D"sv},
    {"\r\r"sv, "=0D=0D"sv},
    {"a \rb"sv, "a =0Db"sv},                // so the blank before it stands
    {"a \r"sv, "a =0D"sv},
    {"a\r \r\n"sv, "a=0D=20\r\n"sv},
    {"\t\r\n\t"sv, "=09\r\n=09"sv},
    {"x=\r\n"sv, "x=3D\r\n"sv},
    {"=\n="sv, "=3D\n=3D"sv},
    {"1+1=2 \xe8 vero."sv, "1+1=3D2 =E8 vero."sv},
    {"Perch\xc3\xa9 no?\r\n"sv, "Perch=C3=A9 no?\r\n"sv},
    {"=20"sv, "=3D20"sv},
};

// Texts a decoder meets, and what they stand for.
struct PrintableReading {
    std::string_view encoded;
    std::string_view plain;
};

inline constexpr PrintableReading kPrintableDecodings[] = {
    {""sv, ""sv},
    {"Hello"sv, "Hello"sv},
    {"=41"sv, "A"sv},
    {"=4a=4A"sv, "JJ"sv},                   // hex in either case
    {"=3d=3D"sv, "=="sv},
    {"caff=c3=a8"sv, "caff\xc3\xa8"sv},
    {"=00=FF"sv, "\0\xff"sv},
    {"=0D=0A"sv, "\r\n"sv},
    {"a=\r\nb"sv, "ab"sv},                  // soft breaks vanish
    {"a=\nb"sv, "ab"sv},
    {"a= \t\r\nb"sv, "ab"sv},
    {"a=\t\nb"sv, "ab"sv},
    {"a =\r\nb"sv, "a b"sv},                // the blank before '=' is data
    {"a =  \r\nb"sv, "a b"sv},
    {"=\r\n"sv, ""sv},
    {"a="sv, "a"sv},                        // a soft break at the very end
    {"a= \t"sv, "a"sv},
    {"="sv, ""sv},
    {"a=G1"sv, "a=G1"sv},                   // stray '=' stands as itself
    {"a=4"sv, "a=4"sv},
    {"=4G"sv, "=4G"sv},
    {"==41"sv, "=A"sv},
    {"a = b"sv, "a = b"sv},
    {"a= b\r\n"sv, "a= b\r\n"sv},
    {"a=\rb"sv, "a=\rb"sv},                 // CR alone is no line break
    {"a \r\nb"sv, "a\r\nb"sv},              // trailing blanks are removed
    {"a \t\nb"sv, "a\nb"sv},
    {"a  "sv, "a"sv},
    {" \t "sv, ""sv},
    {"a \rb"sv, "a \rb"sv},
    {"a b"sv, "a b"sv},
    {"a=20\r\n"sv, "a \r\n"sv},             // encoded blanks are kept
    {"a=20"sv, "a "sv},
    {"a=09 "sv, "a\t"sv},
    {"a\r\nb"sv, "a\r\nb"sv},               // line breaks stay as written
    {"a\nb"sv, "a\nb"sv},
    {"a\rb"sv, "a\rb"sv},
    {"\r\n\r\n"sv, "\r\n\r\n"sv},
    {"\xc3\xa8"sv, "\xc3\xa8"sv},           // 8-bit bytes stand
    {"a\0b"sv, "a\0b"sv},
    {"~!"sv, "~!"sv},
    {"=\n=\n=\n"sv, ""sv},
    {"x=\r\n=\r\ny"sv, "xy"sv},
    // RFC 2045, section 6.7, rule 5.
    {"Now's the time =\r\nfor all folk to come=\r\n to the aid of their country."sv,
     "Now's the time for all folk to come to the aid of their country."sv},
    {"Now's the time =\nfor all folk to come=\n to the aid of their country.\n"sv,
     "Now's the time for all folk to come to the aid of their country.\n"sv},
};

// ---- Generated inputs ---------------------------------------------------

// SplitMix64: the same stream on every platform and standard library.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform enough in [0, bound) for test data.
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }

private:
    std::uint64_t m_state;
};

inline std::string randomBytes(std::size_t n, std::uint64_t seed)
{
    SplitMix64 rng(seed);
    std::string out(n, '\0');
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word = rng.next();
        for (int k = 0; k < 8; ++k)
            out[i + k] = static_cast<char>(word >> (8 * k));
    }
    for (std::uint64_t word = rng.next(); i < n; ++i, word >>= 8)
        out[i] = static_cast<char>(word);
    return out;
}

// Bytes drawn from a small alphabet that stresses one codec's rules.
inline std::string randomFrom(std::string_view alphabet, std::size_t n, std::uint64_t seed)
{
    SplitMix64 rng(seed);
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
    static constexpr std::string_view kPlain[] = {
        "il", "la", "di", "che", "non", "una", "per", "con", "del", "nel",
        "sono", "come", "anche", "questo", "quando", "dopo", "sempre", "molto",
        "casa", "tempo", "giorno", "lavoro", "strada", "mattina", "sera",
        "lettera", "amico", "paese", "acqua", "pane", "vino", "tavola",
        "finestra", "ufficio", "treno", "stazione", "mercato", "piazza",
        "scrivere", "leggere", "parlare", "tornare", "guardare", "aspettare",
        "domani", "ieri", "insieme", "ancora", "forse", "bene", "piano",
        "lungo", "breve", "nuovo", "vecchio", "grande", "piccolo", "bello",
        "fratello", "sorella", "madre", "padre", "conto", "prezzo",
    };
    static constexpr std::string_view kAccented[] = {
        "\xc3\xa8", "perch\xc3\xa9", "citt\xc3\xa0", "pi\xc3\xb9", "per\xc3\xb2",
        "gi\xc3\xa0", "cos\xc3\xac", "caff\xc3\xa8", "virt\xc3\xb9", "luned\xc3\xac",
        "universit\xc3\xa0", "qualit\xc3\xa0", "pu\xc3\xb2", "s\xc3\xac", "met\xc3\xa0",
        "libert\xc3\xa0",
    };
    static constexpr std::string_view kPunctuation[] = {
        ",", ".", ";", ":", "!", "?",
    };

    SplitMix64 rng(seed);
    std::string out;
    out.reserve(bytes + 128);
    std::size_t lineLength = 0;
    std::size_t lineTarget = 40 + rng.below(71);
    bool sentenceStart = true;
    while (out.size() < bytes) {
        std::string word;
        const std::size_t roll = rng.below(1000);
        if (roll < 200)
            word = kAccented[rng.below(std::size(kAccented))];
        else if (roll < 208)
            word = std::to_string(rng.below(1000)) + " = " + std::to_string(rng.below(1000));
        else
            word = kPlain[rng.below(std::size(kPlain))];
        if (sentenceStart && word[0] >= 'a' && word[0] <= 'z')
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        sentenceStart = false;
        if (rng.below(8) == 0) {
            word += kPunctuation[rng.below(std::size(kPunctuation))];
            sentenceStart = word.back() != ',';
        }
        if (lineLength > 0) {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
        if (lineLength >= lineTarget) {
            if (rng.below(20) == 0)
                out.append(1 + rng.below(3), rng.below(2) ? ' ' : '\t');
            out += "\r\n";
            if (rng.below(6) == 0)
                out += "\r\n"; // paragraph
            lineLength = 0;
            lineTarget = 40 + rng.below(71);
        }
    }
    out.resize(bytes);
    return out;
}

// ---- Format rules -------------------------------------------------------
// Checks written from the rules alone, for texts our encoders produce.
// Each returns "" when the text keeps every rule, else the first fault.

inline bool isBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// The wrapped layout of n bytes: 76-character lines each ending CR LF, the
// alphabet only, and exactly the padding n calls for.
inline std::string mime64WrappedFault(std::size_t n, std::string_view text)
{
    const std::size_t chars = (n + 2) / 3 * 4;
    const std::size_t lines = (chars + 75) / 76;
    if (text.size() != chars + 2 * lines)
        return "length " + std::to_string(text.size()) + ", expected " +
               std::to_string(chars + 2 * lines);
    const std::size_t padding = (3 - n % 3) % 3;
    std::size_t seen = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t lineLength = std::min<std::size_t>(76, chars - seen);
        for (std::size_t k = 0; k < lineLength; ++k, ++seen) {
            const char c = text[pos + k];
            const bool isPad = seen >= chars - padding;
            if (isPad ? c != '=' : !isBase64Char(c))
                return "unexpected character at " + std::to_string(pos + k);
        }
        pos += lineLength;
        if (text.substr(pos, 2) != "\r\n")
            return "no CR LF at " + std::to_string(pos);
        pos += 2;
    }
    return {};
}

// The line ending a text's soft breaks must use: LF if its first line break
// is a lone LF, CR LF otherwise (and when it has none).
inline std::string_view expectedSoftBreak(std::string_view plain)
{
    const std::size_t lf = plain.find('\n');
    if (lf != std::string_view::npos && (lf == 0 || plain[lf - 1] != '\r'))
        return "\n";
    return "\r\n";
}

// The quoted-printable of plain, as our encoder must write it.
inline std::string printableFault(std::string_view plain, std::string_view encoded)
{
    enum class Kind { Literal, Escaped, SoftBreak, HardBreak, End };
    struct Token {
        Kind kind;
        unsigned char byte;
        std::size_t pos;
        bool lf; // a hard break written as a lone LF
    };
    auto isUpperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    auto hexValue = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
    const std::string_view softBreak = expectedSoftBreak(plain);

    std::vector<Token> tokens;
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < encoded.size();) {
        const auto c = static_cast<unsigned char>(encoded[i]);
        const std::string at = " at " + std::to_string(i);
        if (c == '=') {
            if (i + 2 < encoded.size() && isUpperHex(encoded[i + 1]) && isUpperHex(encoded[i + 2])) {
                tokens.push_back({Kind::Escaped,
                                  static_cast<unsigned char>(hexValue(encoded[i + 1]) * 16 +
                                                             hexValue(encoded[i + 2])),
                                  i, false});
                lineLength += 3;
                i += 3;
            } else if (encoded.substr(i + 1, softBreak.size()) == softBreak) {
                if (lineLength + 1 > 76)
                    return "line longer than 76" + at;
                // The next token is at most 3 characters: a line that broke
                // with room for it was not filled.
                if (lineLength + 1 < 74)
                    return "soft break after only " + std::to_string(lineLength) + " characters" + at;
                tokens.push_back({Kind::SoftBreak, 0, i, false});
                lineLength = 0;
                i += 1 + softBreak.size();
            } else {
                return "'=' without two upper-case hex digits or the soft break " +
                       std::string(softBreak == "\n" ? "LF" : "CR LF") + at;
            }
        } else if (c == '\r' || c == '\n') {
            const bool lf = c == '\n';
            if (!lf && encoded.substr(i, 2) != "\r\n")
                return "bare CR" + at;
            if (lineLength > 76)
                return "line longer than 76" + at;
            tokens.push_back({Kind::HardBreak, 0, i, lf});
            lineLength = 0;
            i += lf ? 1 : 2;
        } else if ((c >= 33 && c <= 126) || c == ' ' || c == '\t') {
            tokens.push_back({Kind::Literal, c, i, false});
            ++lineLength;
            ++i;
        } else {
            return "byte " + std::to_string(c) + " not encoded" + at;
        }
    }
    if (lineLength > 76)
        return "last line longer than 76";
    tokens.push_back({Kind::End, 0, encoded.size(), false});

    for (std::size_t t = 0; t + 1 < tokens.size(); ++t) {
        const Token &token = tokens[t];
        std::size_t next = t + 1;
        while (tokens[next].kind == Kind::SoftBreak)
            ++next;
        const Kind after = tokens[next].kind;
        const bool breakOrEnd = after == Kind::HardBreak || after == Kind::End;
        const std::string at = " at " + std::to_string(token.pos);
        const bool blank = token.byte == ' ' || token.byte == '\t';
        if (token.kind == Kind::Literal && blank && breakOrEnd)
            return "blank left before a line break or the end" + at;
        if (token.kind == Kind::Escaped) {
            if (token.byte >= 33 && token.byte <= 126 && token.byte != '=')
                return "printable byte encoded" + at;
            if (token.byte == '\n')
                return "LF encoded" + at;
            if (blank && !breakOrEnd)
                return "blank encoded away from a line break" + at;
            if (token.byte == '\r' && after == Kind::HardBreak && tokens[next].lf)
                return "CR LF split into =0D and LF" + at;
        }
    }
    return {};
}

} // namespace dravolin::cases
