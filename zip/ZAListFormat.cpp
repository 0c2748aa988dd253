#include "zip/ZAListFormat.h"

#include <cmath>
#include <cstdio>

#include "zip/ZAIRec.h"

std::string FormatGroupedInteger(std::uint64_t n) {
    std::string digits = std::to_string(n);
    std::string out;
    const std::size_t len = digits.size();
    for (std::size_t i = 0; i < len; ++i) {
        if (i > 0 && (len - i) % 3 == 0) {
            out += '.';
        }
        out += digits[i];
    }
    return out;
}

namespace {

// A non-negative value with up to `decimals` optional decimals, rounded
// half away from zero, trailing zero decimals dropped.
std::string FormatOptionalDecimals(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    const auto scaled = static_cast<std::uint64_t>(std::floor(value * scale + 0.5));
    const std::uint64_t whole = scaled / static_cast<std::uint64_t>(scale);
    std::uint64_t frac = scaled % static_cast<std::uint64_t>(scale);
    std::string out = FormatGroupedInteger(whole);
    if (frac == 0) {
        return out;
    }
    std::string f = std::to_string(frac);
    f.insert(0, static_cast<std::size_t>(decimals) - f.size(), '0');
    while (!f.empty() && f.back() == '0') {
        f.pop_back();
    }
    return out + ',' + f;
}

}  // namespace

std::string FormatByteSize(std::int64_t size) {
    if (size <= 0) {
        return {};
    }
    return FormatGroupedInteger(static_cast<std::uint64_t>(size)) + " Byte";
}

std::string FormatPercent(std::int64_t packed, std::int64_t unpacked) {
    if (packed <= 0 || unpacked <= 0) {
        return {};
    }
    const double rate = 100.0 / (static_cast<double>(unpacked) / static_cast<double>(packed));
    const auto rounded = static_cast<std::uint64_t>(std::floor(rate + 0.5));
    return rounded == 0 ? std::string() : std::to_string(rounded);
}

std::string FormatPackRate(std::int64_t packed, std::int64_t unpacked) {
    if (packed <= 0 || unpacked <= 0) {
        return {};
    }
    return FormatPercent(packed, unpacked) + " %  ";
}

std::string FormatRatioText(std::int64_t packed, std::int64_t unpacked) {
    if (packed <= 0 || unpacked <= 0) {
        return {};
    }
    return FormatPercent(packed, unpacked) + " %";
}

std::string FormatSizeText(std::int64_t n) {
    if (n <= 0) {
        return "0 Byte";
    }
    if (n < 1024) {
        return std::to_string(n) + " Byte";
    }
    if (n < 1048576) {
        return FormatOptionalDecimals(static_cast<double>(n) / 1024.0, 1) + " KB";
    }
    return FormatOptionalDecimals(static_cast<double>(n) / 1048576.0, 2) + " MB";
}

// Control characters and the backslash written as escapes, so that every
// entry stays on one line with its fields apart.
void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (b < 0x20 || b == 0x7F) {
                    static const char kHex[] = "0123456789ABCDEF";
                    out += "\\x";
                    out += kHex[b >> 4];
                    out += kHex[b & 15];
                } else {
                    out += c;
                }
        }
    }
}

std::string EscapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

// The stored fields of a DOS date-time as they are, also when they name no
// real day (as other tools print them).
std::string RawDosDateTime(std::uint32_t dos) {
    const unsigned date = dos >> 16;
    const unsigned time = dos & 0xFFFF;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980,
                  (date >> 5) & 0xF, date & 0x1F, time >> 11, (time >> 5) & 0x3F,
                  (time & 0x1F) * 2);
    return buf;
}

namespace {

// `value` in `width` decimal digits (with leading zeros; more when needed).
void AppendDigits(std::string& out, std::uint64_t value, int width) {
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || n < width);
    while (n > 0) {
        out += buf[--n];
    }
}

// A signed value as std::to_string writes it.
void AppendSigned(std::string& out, std::int64_t value) {
    if (value < 0) {
        out += '-';
        AppendDigits(out, 0 - static_cast<std::uint64_t>(value), 1);
    } else {
        AppendDigits(out, static_cast<std::uint64_t>(value), 1);
    }
}

}  // namespace

void AppendTsvLine(std::string& out, TZADirEntry& e) {
    AppendEscaped(out, e.FileName());
    out += '\t';
    AppendSigned(out, e.CompressedSize());
    out += '\t';
    AppendSigned(out, e.UncompressedSize());
    out += '\t';
    static const char kHex[] = "0123456789abcdef";
    const std::uint32_t crc = e.Crc32();
    for (int shift = 28; shift >= 0; shift -= 4) {
        out += kHex[(crc >> shift) & 15];
    }
    out += '\t';
    AppendDigits(out, e.CompressionMethod(), 1);
    out += '\t';
    // The stored fields as they are, as RawDosDateTime writes them.
    const std::uint32_t dos = e.DosDateTime();
    const unsigned date = dos >> 16;
    const unsigned time = dos & 0xFFFF;
    AppendDigits(out, (date >> 9) + 1980, 4);
    out += '-';
    AppendDigits(out, (date >> 5) & 0xF, 2);
    out += '-';
    AppendDigits(out, date & 0x1F, 2);
    out += ' ';
    AppendDigits(out, time >> 11, 2);
    out += ':';
    AppendDigits(out, (time >> 5) & 0x3F, 2);
    out += ':';
    AppendDigits(out, (time & 0x1F) * 2, 2);
    out += '\t';
    out += e.IsEncrypted() ? '1' : '0';
    out += '\n';
}

std::string FormatTsvLine(TZADirEntry& e) {
    std::string line;
    AppendTsvLine(line, e);
    line.pop_back();
    return line;
}
