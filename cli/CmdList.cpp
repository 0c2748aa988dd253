// tarvik-cli list [--tsv] [--dirs] [--encoding MODE] ARCHIVE
//
// Opens the archive through the zip component exactly as the window does
// (ZipFileName, then Count and DirEntry) and prints its entries: by default
// with the window's columns and status texts, with --tsv one entry a line,
// tab-separated, for scripts and comparisons with other tools. Folder
// entries are hidden as in the window unless --dirs is given.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/CliZip.h"
#include "platform/DosTime.h"
#include "zip/ZAIRec.h"
#include "zip/ZAListFormat.h"
#include "zip/ZipArchiver.h"

namespace {

struct ListOptions {
    bool tsv = false;
    bool dirs = false;
    TZAEncodingOpts encoding = zeoAuto;
    std::string archive;
};

bool ParseEncoding(const std::string& text, TZAEncodingOpts& out) {
    static const std::pair<const char*, TZAEncodingOpts> kModes[] = {{"auto", zeoAuto},
                                                                     {"none", zeoNone},
                                                                     {"oem", zeoOEM},
                                                                     {"utf8", zeoUTF8},
                                                                     {"upath", zeoUPath}};
    for (const auto& [name, mode] : kModes) {
        if (text == name) {
            out = mode;
            return true;
        }
    }
    return false;
}

// Display columns of a UTF-8 text (one per code point).
std::size_t Columns(const std::string& s) {
    return static_cast<std::size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string PadRight(const std::string& s, std::size_t width) {
    const std::size_t w = Columns(s);
    return w >= width ? s : s + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& s, std::size_t width) {
    const std::size_t w = Columns(s);
    return w >= width ? s : std::string(width - w, ' ') + s;
}

// Lines are collected and written in blocks of about this size.
constexpr std::size_t kOutputBlock = 1 << 16;

void Flush(CliContext& ctx, std::string& text) {
    ctx.out.write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
}

void PrintTable(CliContext& ctx, TZipArchiver& zip) {
    struct Row {
        std::string name, packed, unpacked, date, rate;
    };
    const int count = zip.Count();
    std::int64_t totalPacked = 0;
    std::int64_t totalUnpacked = 0;
    // The cells of entry i; false when it is gone. The first pass sums the sizes.
    bool firstPass = true;
    auto cells = [&](int i, Row& r) {
        const auto e = zip.DirEntry(i);
        if (!e) {
            return false;
        }
        const std::int64_t packed = e->CompressedSize();
        const std::int64_t unpacked = e->UncompressedSize();
        if (firstPass) {
            totalPacked += packed;
            totalUnpacked += unpacked;
        }
        r.name.clear();
        AppendEscaped(r.name, e->FileName());
        r.packed = FormatByteSize(packed);
        r.unpacked = FormatByteSize(unpacked);
        r.date = platform::FormatDosDateTimeGerman(e->DosDateTime());
        r.rate = FormatPackRate(packed, unpacked);
        return true;
    };
    // Two passes over the loaded entries, the column widths first: a
    // listing of millions of entries holds no texts of its own.
    const Row head{"Dateiname", "Gepackt", "Ungepackt", "Geändert am", "Packrate"};
    std::size_t w[4] = {Columns(head.name), Columns(head.packed), Columns(head.unpacked),
                        Columns(head.date)};
    Row r;
    for (int i = 0; i < count; ++i) {
        if (!cells(i, r)) {
            continue;
        }
        w[0] = std::max(w[0], Columns(r.name));
        w[1] = std::max(w[1], Columns(r.packed));
        w[2] = std::max(w[2], Columns(r.unpacked));
        w[3] = std::max(w[3], Columns(r.date));
    }
    std::string text;
    auto line = [&](const Row& row) {
        const std::size_t start = text.size();
        text += PadRight(row.name, w[0]);
        text += "  ";
        text += PadLeft(row.packed, w[1]);
        text += "  ";
        text += PadLeft(row.unpacked, w[2]);
        text += "  ";
        text += PadRight(row.date, w[3]);
        text += "  ";
        text += row.rate;
        while (text.size() > start && text.back() == ' ') {
            text.pop_back();
        }
        text += '\n';
        if (text.size() >= kOutputBlock) {
            Flush(ctx, text);
        }
    };
    line(head);
    firstPass = false;
    for (int i = 0; i < count; ++i) {
        if (!cells(i, r)) {
            continue;
        }
        line(r);
    }
    Flush(ctx, text);
    const std::string ratio = FormatRatioText(totalPacked, totalUnpacked);
    const std::string size =
        totalPacked != 0 && totalUnpacked != 0 ? FormatSizeText(totalPacked) : std::string();
    ctx.out << '\n'
            << count << " Dateien   Packrate: " << ratio << "   Archivgröße: " << size << '\n';
}

void PrintTsv(CliContext& ctx, TZipArchiver& zip) {
    const int count = zip.Count();
    std::string text;
    text.reserve(kOutputBlock + 512);
    for (int i = 0; i < count; ++i) {
        if (const auto e = zip.DirEntry(i)) {
            AppendTsvLine(text, *e);
            if (text.size() >= kOutputBlock) {
                Flush(ctx, text);
            }
        }
    }
    Flush(ctx, text);
}

}  // namespace

int RunList(CliContext& ctx, std::span<const std::string> args) {
    ListOptions opt;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--tsv") {
            opt.tsv = true;
        } else if (a == "--dirs") {
            opt.dirs = true;
        } else if (a == "--encoding" || a.starts_with("--encoding=")) {
            std::string value;
            if (a == "--encoding") {
                if (i + 1 >= args.size()) {
                    ctx.Say(ctx.Tr("--encoding braucht einen Wert (auto|none|oem|utf8|upath)",
                                   "--encoding needs a value (auto|none|oem|utf8|upath)"));
                    return kExitUsage;
                }
                value = args[++i];
            } else {
                value = a.substr(11);
            }
            if (!ParseEncoding(value, opt.encoding)) {
                ctx.Say(std::string(ctx.Tr("unbekannte Kodierung '", "unknown encoding '")) +
                        value + "' (auto|none|oem|utf8|upath)");
                return kExitUsage;
            }
        } else if (opt.archive.empty() && (!a.starts_with("--") || a.size() == 1)) {
            opt.archive = a;
        } else {
            ctx.Say(std::string(
                        ctx.Tr("list: unerwartetes Argument '", "list: unexpected argument '")) +
                    a + "'");
            return kExitUsage;
        }
    }
    if (opt.archive.empty()) {
        ctx.Say(ctx.Tr("list braucht ein Archiv", "list needs an archive"));
        return kExitUsage;
    }

    // Set before the archive is named, so that it is read only once.
    CliZip reader(ctx, {});
    TZipArchiver& zip = *reader;
    zip.SetEncoding(opt.encoding);
    zip.SetUseDirOnlyEntries(opt.dirs);
    reader.Open(opt.archive);
    if (!reader.Loaded()) {
        return kExitFailure;
    }
    if (opt.tsv) {
        PrintTsv(ctx, zip);
    } else {
        PrintTable(ctx, zip);
    }
    // Warnings about the archive (said while it was read) make it status 1.
    return reader.Said() ? kExitWarning : kExitOk;
}
