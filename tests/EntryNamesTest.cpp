// One reading of entry names: for archives from many hosts, the name the
// component lists is the name the self-extractor core reads, the name that
// tarvik-cli extract, test and delete accept (with and without --exact), and
// the name of the file written. And names holding "*", "?" and "|" are taken
// literally with --exact.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ZADllTestSupport.h"
#include "platform/ZipRecords.h"
#include "sfx_source.h"
#include "sfx_zip.h"
#include "zip/ZAIRec.h"
#include "zip/ZipArchiver.h"
#include "zip/messages/ZAMsg.h"

using namespace bridgetest;

namespace {

const std::string kCli = Quote(TARVIK_CLI_PATH) + " --language DE";

std::uint32_t CrcOf(const std::string& s) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// A stored entry with correct CRC.
ztest::Entry Stored(const std::string& name, const std::string& data, std::uint16_t flags,
                    std::uint16_t madeBy, const std::string& extra = {}) {
    ztest::Entry e(name, data, flags, madeBy, extra);
    e.crc = CrcOf(data);
    return e;
}

std::string UnicodePathRecord(const std::string& stored, const std::string& utf8) {
    std::string x;
    const std::string data = zrec::BuildUnicodeData(stored, utf8);
    ztest::Put16(x, 0x7075);
    ztest::Put16(x, static_cast<std::uint32_t>(data.size()));
    return x + data;
}

// The names the component lists, as the window and tarvik-cli show them.
std::vector<std::string> ListedNames(const std::string& archive) {
    ::SetUseUTF8(true);
    ztest::RecordingDialog dialog;
    TZipArchiver comp;
    comp.SetDialogProvider(&dialog);
    comp.SetZipFileName(archive);
    std::vector<std::string> names;
    for (int i = 0; i < comp.Count(); ++i) {
        names.push_back(comp.DirEntry(i)->FileName());
    }
    ::SetUseUTF8(false);
    return names;
}

// The names the self-extractor core reads.
std::vector<std::string> SfxNames(const std::string& zip) {
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, zip.data(), zip.size());
    SfxArchive archive;
    std::vector<std::string> names;
    if (sfx_archive_open(&archive, &src, 0) != 0) {
        return names;
    }
    SfxEntry e;
    while (sfx_archive_next(&archive, &e) == 1) {
        names.emplace_back(e.name);
    }
    sfx_archive_close(&archive);
    return names;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The files in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(dir, ec)) {
        names.push_back(f.path().filename().string());
    }
    return Sorted(names);
}

}  // namespace

TEST(EntryNames, ListedNameSelectsExtractsAndDeletes) {
    struct Case {
        const char* what;
        ztest::Entry entry;
        std::string expected;  // UTF-8
    };
    const std::string u =
        "\xC3\x9C"
        "bersicht.txt";  // "Übersicht.txt"
    const std::vector<Case> cases = {
        {"Unix host, UTF-8 bytes, no flag",
         Stored("gr\xC3\xBC\xC3\x9F"
                "e.txt",
                "a", 0, 0x031E),
         "gr\xC3\xBC\xC3\x9F"
         "e.txt"},
        {"macOS host, UTF-8 bytes, no flag", Stored(u, "b", 0, 0x1314), u},
        {"Unix host, bytes that are not UTF-8: Windows-1252",
         Stored("r\xE9sum\xE9.txt", "c", 0, 0x031E), "r\xC3\xA9sum\xC3\xA9.txt"},
        {"NTFS host: ANSI", Stored("caf\xE9.txt", "d", 0, 0x0B1E), "caf\xC3\xA9.txt"},
        {"NTFS host, version 5.0: OEM",
         Stored("\x81"
                "ber.txt",
                "e", 0, 0x0B32),
         "\xC3\xBC"
         "ber.txt"},
        {"DOS host: CP850",
         Stored("Gr\x94\xE1"
                "e.txt",
                "f", 0, 0x0014),
         "Gr\xC3\xB6\xC3\x9F"
         "e.txt"},
        {"flag bit 11", Stored("na\xC3\xAFve.txt", "g", 0x0800, 0x0014), "na\xC3\xAFve.txt"},
        {"flag bit 11 before a Unicode path record",
         Stored("flagged.txt", "i", 0x0800, 0x0014, UnicodePathRecord("flagged.txt", "record.txt")),
         "flagged.txt"},
        {"Unicode path record",
         Stored("Apfel.txt", "h", 0, 0x0014,
                UnicodePathRecord("Apfel.txt",
                                  "\xC3\x84"
                                  "pfel.txt")),
         "\xC3\x84"
         "pfel.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s;
        const std::string zip = ztest::BuildZip({c.entry, Stored("rest.txt", "r", 0, 0x031E)});
        WriteFile(s / "t.zip", zip);
        const std::vector<std::string> all = {c.expected, "rest.txt"};
        EXPECT_EQ(ListedNames(s / "t.zip"), all);
        EXPECT_EQ(SfxNames(zip), all);

        const std::string name = Quote(c.expected);
        for (const std::string exact : {"", "--exact "}) {
            const std::string out = "out" + std::to_string(exact.size());
            const auto x =
                Shell(kCli + " extract " + exact + "-d " + out + " t.zip " + name, s.dir);
            EXPECT_EQ(x.status, 0) << x.output;
            EXPECT_EQ(FilesIn(s / out), std::vector<std::string>{c.expected}) << exact;
            EXPECT_EQ(ReadFile(s / out + "/" + c.expected), c.entry.data);
        }
        const auto t = Shell(kCli + " test --exact t.zip " + name, s.dir);
        EXPECT_EQ(t.status, 0) << t.output;
        EXPECT_NE(t.output.find("1 von 1 Einträgen gepr"), std::string::npos) << t.output;
        const auto d = Shell(kCli + " delete --final --exact t.zip " + name, s.dir);
        EXPECT_EQ(d.status, 0) << d.output;
        EXPECT_EQ(ListedNames(s / "t.zip"), std::vector<std::string>{"rest.txt"});
    }
}

TEST(EntryNames, InfoZipOnLinuxWithUmlauts) {
    if (!Shell("command -v zip").output.size()) {
        GTEST_SKIP() << "Info-ZIP zip not installed";
    }
    Scratch s;
    const std::string name =
        "gr\xC3\xBC\xC3\x9F"
        "e.txt";
    WriteFile(s / "src/" + name, "inhalt");
    ASSERT_EQ(Shell("cd src && LC_ALL=C.UTF-8 zip -q -X ../i.zip " + Quote(name), s.dir).status, 0);
    EXPECT_EQ(ListedNames(s / "i.zip"), std::vector<std::string>{name});
    const auto x = Shell(kCli + " extract -d out i.zip " + Quote(name), s.dir);
    EXPECT_EQ(x.status, 0) << x.output;
    EXPECT_EQ(ReadFile(s / "out/" + name), "inhalt");
}

// --exact takes "*", "?" and "|" as characters of the name; without it they
// are wildcards and list separators.
TEST(EntryNames, ExactNamesOnTheCommandLine) {
    const std::vector<std::string> names = {"x*.txt", "xa.txt",  "xb.txt", "y?.txt",
                                            "ya.txt", "a|b.txt", "a",      "b.txt"};
    std::vector<ztest::Entry> entries;
    for (const std::string& n : names) {
        entries.push_back(Stored(n, n, 0, 0x031E));
    }
    const std::string zip = ztest::BuildZip(entries);
    struct Case {
        std::string args;
        std::vector<std::string> touched;
    };
    const std::vector<Case> cases = {
        {"--exact 'x*.txt'", {"x*.txt"}},
        {"--exact 'y?.txt' 'a|b.txt'", {"a|b.txt", "y?.txt"}},
        {"--exact 'X*.TXT'", {"x*.txt"}},  // names compare without regard to case
        {"--exact 'x?.txt'", {}},          // no such entry
        {"'x*.txt'", {"x*.txt", "xa.txt", "xb.txt"}},
        {"'a|b.txt'", {"a", "b.txt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Scratch s;
        WriteFile(s / "t.zip", zip);
        Shell(kCli + " extract -d out t.zip " + c.args, s.dir);
        EXPECT_EQ(FilesIn(s / "out"), c.touched);
        for (const std::string& n : c.touched) {
            EXPECT_EQ(ReadFile(s / "out/" + n), n);
        }
        const auto t = Shell(kCli + " test t.zip " + c.args, s.dir);
        const std::string n = std::to_string(c.touched.size());
        EXPECT_NE(t.output.find(n + " von " + n + " Einträgen gepr"), std::string::npos)
            << t.output;
        Shell(kCli + " delete --final t.zip " + c.args, s.dir);
        std::vector<std::string> left;
        for (const std::string& n : names) {
            if (std::find(c.touched.begin(), c.touched.end(), n) == c.touched.end()) {
                left.push_back(n);
            }
        }
        EXPECT_EQ(Sorted(ListedNames(s / "t.zip")), Sorted(left));
    }
}
