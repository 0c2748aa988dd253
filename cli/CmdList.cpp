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

void PrintTable(CliContext& ctx, TZipArchiver& zip) {
    struct Row {
        std::string name, packed, unpacked, date, rate;
    };
    std::vector<Row> rows;
    const int count = zip.Count();
    rows.reserve(static_cast<std::size_t>(count));
    std::int64_t totalPacked = 0;
    std::int64_t totalUnpacked = 0;
    for (int i = 0; i < count; ++i) {
        const auto e = zip.DirEntry(i);
        if (!e) {
            continue;
        }
        const std::int64_t packed = e->CompressedSize();
        const std::int64_t unpacked = e->UncompressedSize();
        rows.push_back({EscapeControls(e->FileName()), FormatByteSize(packed),
                        FormatByteSize(unpacked),
                        platform::FormatDosDateTimeGerman(e->DosDateTime()),
                        FormatPackRate(packed, unpacked)});
        totalPacked += packed;
        totalUnpacked += unpacked;
    }
    const Row head{"Dateiname", "Gepackt", "Ungepackt", "Geändert am", "Packrate"};
    std::size_t w[4] = {Columns(head.name), Columns(head.packed), Columns(head.unpacked),
                        Columns(head.date)};
    for (const Row& r : rows) {
        w[0] = std::max(w[0], Columns(r.name));
        w[1] = std::max(w[1], Columns(r.packed));
        w[2] = std::max(w[2], Columns(r.unpacked));
        w[3] = std::max(w[3], Columns(r.date));
    }
    auto line = [&](const Row& r) {
        std::string s = PadRight(r.name, w[0]) + "  " + PadLeft(r.packed, w[1]) + "  " +
                        PadLeft(r.unpacked, w[2]) + "  " + PadRight(r.date, w[3]) + "  " + r.rate;
        while (!s.empty() && s.back() == ' ') {
            s.pop_back();
        }
        ctx.out << s << '\n';
    };
    line(head);
    for (const Row& r : rows) {
        line(r);
    }
    const std::string ratio = FormatRatioText(totalPacked, totalUnpacked);
    const std::string size =
        totalPacked != 0 && totalUnpacked != 0 ? FormatSizeText(totalPacked) : std::string();
    ctx.out << '\n'
            << count << " Dateien   Packrate: " << ratio << "   Archivgröße: " << size << '\n';
}

void PrintTsv(CliContext& ctx, TZipArchiver& zip) {
    const int count = zip.Count();
    for (int i = 0; i < count; ++i) {
        if (const auto e = zip.DirEntry(i)) {
            ctx.out << FormatTsvLine(*e) << '\n';
        }
    }
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
