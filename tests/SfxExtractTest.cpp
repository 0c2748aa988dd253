// Self-extracting programs built the way the converter builds them (stub
// image, configuration block, archive), checked with Info-ZIP and 7-Zip and
// extracted with the native driver over the stub's core; plus the core's
// decisions about names, existing files and passwords, with an in-memory
// file system.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "SfxTestSupport.h"
#include "sfx/res/ZAResSFX.h"
#include "sfx_crypt.h"
#include "sfx_extract.h"
#include "sfx_result.h"
#include "sfx_zip.h"
#include "sfxblock.h"
#include "tests/RewriteTestSupport.h"

using sfxtest::Bytes;
using sfxtest::quote;
using sfxtest::run;
namespace fs = std::filesystem;

namespace {

const std::string kDriver = TARVIK_SFX_EXTRACT;

// Sample files: text, random data, a file in a sub-folder, an empty file.
void writeSamples(const fs::path& dir) {
    fs::create_directories(dir / "sub" / "tiefer");
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += "Zeile " + std::to_string(i) + "\n";
    }
    sfxtest::writeFile(dir / "text.txt", Bytes(text.begin(), text.end()));
    sfxtest::writeFile(dir / "sub" / "random.bin", sfxtest::randomBytes(150000, 42));
    sfxtest::writeFile(dir / "sub" / "tiefer" / "klein.txt", Bytes{'h', 'i', '\n'});
    sfxtest::writeFile(dir / "leer.txt", {});
}

// True when both trees hold the same files with the same bytes.
bool sameTree(const fs::path& a, const fs::path& b) {
    std::map<std::string, Bytes> left, right;
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        if (e.is_regular_file()) {
            left[fs::relative(e.path(), a).string()] = sfxtest::readFile(e.path());
        }
    }
    for (const auto& e : fs::recursive_directory_iterator(b)) {
        if (e.is_regular_file()) {
            right[fs::relative(e.path(), b).string()] = sfxtest::readFile(e.path());
        }
    }
    return !left.empty() && left == right;
}

// Stub + block + archive; with `adjust`, the offsets are made absolute by `zip -A`.
fs::path makeProgram(const fs::path& dir, const std::string& name, const Bytes& zip,
                     const sfxtest::BlockSpec& spec, bool adjust) {
    Bytes program = sfxtest::stubImage();
    sfxtest::append(program, sfxtest::configBlock(spec));
    sfxtest::append(program, zip);
    const fs::path path = dir / name;
    sfxtest::writeFile(path, program);
    if (adjust) {
        EXPECT_EQ(run("zip -qA " + quote(path)), 0);
    }
    return path;
}

int extract(const fs::path& program, const fs::path& target, const std::string& options = "") {
    return run(quote(kDriver) + " " + quote(program) + " " + quote(target) + " " + options +
               " >/dev/null 2>&1 </dev/null");
}

std::string readText(const fs::path& p) {
    const Bytes b = sfxtest::readFile(p);
    return std::string(b.begin(), b.end());
}

}  // namespace

// Archives made by Info-ZIP in every storage kind: the programs stay valid
// zip archives for both peers and extract byte for byte, with offsets as
// written by the converter (absolute) and as simply appended (relative).
TEST(SfxExtract, ConvertedProgramsFromInfoZip) {
    if (!sfxtest::haveTool("zip") || !sfxtest::haveTool("unzip")) {
        GTEST_SKIP() << "Info-ZIP not installed";
    }
    const bool have7z = sfxtest::haveTool("7zz");
    sfxtest::TempDir dir;
    writeSamples(dir / "src");
    struct Case {
        const char* name;
        const char* zipOptions;
        const char* password;
    };
    const Case cases[] = {{"stored", "-0", ""},
                          {"deflated", "-9", ""},
                          {"encrypted stored", "-0 -P Kennwort1", "Kennwort1"},
                          {"encrypted deflated", "-6 -P Kennwort1", "Kennwort1"}};
    sfxtest::BlockSpec spec;
    spec.caption = "Selbstenpackendes Tarvik - Archiv";
    spec.defaultDir = "C:\\Beispiel";
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path zip = dir / ("a" + std::to_string(n) + ".zip");
        ASSERT_EQ(run("cd " + quote(dir / "src") + " && zip -qr " + c.zipOptions + " " +
                      quote(zip) + " ."),
                  0);
        const Bytes archive = sfxtest::readFile(zip);
        for (bool adjust : {true, false}) {
            SCOPED_TRACE(adjust ? "offsets absolute" : "offsets relative");
            const std::string base = std::to_string(n) + (adjust ? "abs" : "rel");
            const fs::path program = makeProgram(dir.path(), base + ".exe", archive, spec, adjust);
            const std::string pw = *c.password ? std::string(" -P ") + c.password : "";
            if (adjust) {
                EXPECT_EQ(run("unzip -tq" + pw + " " + quote(program) + " >/dev/null 2>&1"), 0);
                if (have7z) {
                    const std::string p7 = *c.password ? std::string(" -p") + c.password : "";
                    EXPECT_EQ(run("7zz t" + p7 + " " + quote(program) + " >/dev/null 2>&1"), 0);
                }
            }
            const fs::path out = dir / ("out" + base);
            const std::string opt = *c.password ? std::string("--password ") + c.password : "";
            EXPECT_EQ(extract(program, out, opt), 0);
            EXPECT_TRUE(sameTree(dir / "src", out));
            if (*c.password) {
                EXPECT_EQ(extract(program, dir / ("wrong" + base), "--password falsch"), 1);
                EXPECT_FALSE(fs::exists(dir / ("wrong" + base) / "text.txt"));
            }
        }
        ++n;
    }
}

// Streamed entries carry a data descriptor; their password check byte is the
// high byte of the time.
TEST(SfxExtract, StreamedEncryptedEntry) {
    if (!sfxtest::haveTool("zip")) {
        GTEST_SKIP() << "Info-ZIP not installed";
    }
    sfxtest::TempDir dir;
    writeSamples(dir / "src");
    ASSERT_EQ(run("zip -q -P geheim - - < " + quote(dir / "src" / "text.txt") + " > " +
                  quote(dir / "s.zip")),
              0);
    const fs::path program =
        makeProgram(dir.path(), "s.exe", sfxtest::readFile(dir / "s.zip"), {}, false);
    ASSERT_EQ(extract(program, dir / "out", "--password geheim"), 0);
    EXPECT_EQ(readText(dir / "out" / "-"), readText(dir / "src" / "text.txt"));
}

// Names that would leave the target folder are refused; nothing is written
// outside it; the safe entries beside them are extracted.
TEST(SfxExtract, RefusesNamesLeavingTheTarget) {
    sfxtest::TempDir dir;
    const Bytes data{'x'};
    const std::vector<sfxtest::ZipEntry> entries = {{"../evil1.txt", data},
                                                    {"/tmp/evil2.txt", data},
                                                    {"C:/evil3.txt", data},
                                                    {"a/../../evil4.txt", data},
                                                    {"sub\\..\\..\\evil5.txt", data},
                                                    {"\\\\server\\evil6", data},
                                                    {"ok/fine.txt", data, true},
                                                    {"./dot/./x.txt", data},
                                                    {"file:stream", data},
                                                    {"...", data}};
    const fs::path program = makeProgram(dir.path(), "t.exe", sfxtest::makeZip(entries), {}, false);
    const fs::path target = dir / "deep" / "target";
    fs::create_directories(target);
    EXPECT_EQ(extract(program, target), 1);
    EXPECT_EQ(readText(target / "ok" / "fine.txt"), "x");
    EXPECT_EQ(readText(target / "dot" / "x.txt"), "x");
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        files += e.is_regular_file();
    }
    EXPECT_EQ(files, 3u);  // the program and the two safe entries
    EXPECT_FALSE(fs::exists("/tmp/evil2.txt"));
}

TEST(SfxExtract, SafePathTable) {
    struct Case {
        const char* name;
        const char* expected;  // nullptr: refused
        bool isDir;
    };
    const Case cases[] = {
        {"a.txt", "a.txt", false},
        {"dir/sub/a.txt", "dir/sub/a.txt", false},
        {"dir\\sub\\a.txt", "dir/sub/a.txt", false},
        {"./a//b/./c", "a/b/c", false},
        {"folder/", "folder", true},
        {"folder\\", "folder", true},
        {"a..b/c.", "a..b/c.", false},
        {"..", nullptr, false},
        {"../a", nullptr, false},
        {"a/..", nullptr, false},
        {"a/../b", nullptr, false},
        {"a/.../b", nullptr, false},
        {"/etc/passwd", nullptr, false},
        {"\\windows\\x", nullptr, false},
        {"C:x", nullptr, false},
        {"c:\\x", nullptr, false},
        {"a:b", nullptr, false},
        {"tab\there", nullptr, false},
        {"", nullptr, false},
        {"./", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char out[64];
        int isDir = -1;
        const int rc = sfx_safe_path(c.name, out, sizeof out, &isDir);
        if (c.expected == nullptr) {
            EXPECT_EQ(rc, SFX_E_NAME);
        } else {
            ASSERT_EQ(rc, SFX_OK);
            EXPECT_STREQ(out, c.expected);
        }
        EXPECT_EQ(isDir, c.isDir ? 1 : 0);
    }
    char tiny[4];
    int isDir = 0;
    EXPECT_EQ(sfx_safe_path("abcd", tiny, sizeof tiny, &isDir), SFX_E_NAME);
}

// The program's own overwrite mode applies unless the caller overrides it.
TEST(SfxExtract, OverwriteModes) {
    sfxtest::TempDir dir;
    const std::vector<sfxtest::ZipEntry> entries = {{"a.txt", {'n', 'e', 'u'}},
                                                    {"b.txt", {'n', 'e', 'u'}, true}};
    const Bytes zip = sfxtest::makeZip(entries);
    struct Case {
        const char* name;
        unsigned blockMode;
        const char* options;
        const char* expected;
    };
    const Case cases[] = {{"block never", SFX_OVR_NEVER, "", "alt"},
                          {"block always", SFX_OVR_ALWAYS, "", "neu"},
                          {"never given", SFX_OVR_ALWAYS, "--overwrite never", "alt"},
                          {"always given", SFX_OVR_NEVER, "--overwrite always", "neu"},
                          {"confirm without answers", SFX_OVR_CONFIRM, "", "alt"}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sfxtest::BlockSpec spec;
        spec.overwrite = c.blockMode;
        const fs::path program =
            makeProgram(dir.path(), "o" + std::to_string(n) + ".exe", zip, spec, true);
        const fs::path target = dir / ("t" + std::to_string(n++));
        fs::create_directories(target);
        sfxtest::writeFile(target / "a.txt", {'a', 'l', 't'});
        EXPECT_EQ(extract(program, target, c.options), 0);
        EXPECT_EQ(readText(target / "a.txt"), c.expected);
        EXPECT_EQ(readText(target / "b.txt"), "neu");
    }
}

// A "./" entry (written for the folder a tool was given) is the target
// folder itself: no failure, with and without empty folders.
TEST(SfxExtract, EmptyFoldersOnlyWhenAsked) {
    sfxtest::TempDir dir;
    const Bytes zip =
        sfxtest::makeZip({{"./", {}}, {"./.\\", {}}, {"leer/", {}}, {"voll/a.txt", {'a'}}});
    sfxtest::BlockSpec spec;
    EXPECT_EQ(extract(makeProgram(dir.path(), "e1.exe", zip, spec, false), dir / "t1"), 0);
    EXPECT_FALSE(fs::exists(dir / "t1" / "leer"));
    EXPECT_TRUE(fs::exists(dir / "t1" / "voll" / "a.txt"));
    spec.flags = SFX_OPT_CREATE_EMPTY_DIRS;
    EXPECT_EQ(extract(makeProgram(dir.path(), "e2.exe", zip, spec, false), dir / "t2"), 0);
    EXPECT_TRUE(fs::is_directory(dir / "t2" / "leer"));
}

// Zip64 records, names in the OEM code page and in UTF-8, and damaged data that
// must not leave a half-written file behind.
TEST(SfxExtract, Zip64NamesAndDamage) {
    sfxtest::TempDir dir;
    const Bytes big = sfxtest::randomBytes(70000, 5);
    const Bytes zip64 = sfxtest::makeZip({{"z/big.bin", big, true}, {"z/s.txt", {'s'}}}, 0, true);
    const fs::path p64 = makeProgram(dir.path(), "z.exe", zip64, {}, false);
    if (sfxtest::haveTool("7zz")) {
        EXPECT_EQ(run("7zz t " + quote(p64) + " >/dev/null 2>&1"), 0);
    }
    ASSERT_EQ(extract(p64, dir / "t64"), 0);
    EXPECT_TRUE(sfxtest::readFile(dir / "t64" / "z" / "big.bin") == big);

    // The entries are made by a DOS host without flag bit 11, so both names are
    // read as OEM (CP850): 0x84 is "ä", 0xE1 is "ß"
    const Bytes names = sfxtest::makeZip({{"K\x84se.txt", {'k'}}, {"\xE1.txt", {'s'}}});
    ASSERT_EQ(extract(makeProgram(dir.path(), "n.exe", names, {}, false), dir / "tn"), 0);
    EXPECT_TRUE(fs::exists(dir / "tn" / "K\xC3\xA4se.txt"));
    EXPECT_TRUE(fs::exists(dir / "tn" / "\xC3\x9F.txt"));

    Bytes damaged = sfxtest::makeZip({{"ok.txt", {'o', 'k'}}, {"bad.bin", big, true}});
    damaged[30 + 6 + 2 + 30 + 7 + 1000] ^= 0x55;  // inside the deflated data of bad.bin
    ASSERT_EQ(extract(makeProgram(dir.path(), "d.exe", damaged, {}, false), dir / "td"), 1);
    EXPECT_TRUE(fs::exists(dir / "td" / "ok.txt"));
    EXPECT_FALSE(fs::exists(dir / "td" / "bad.bin"));
}

namespace {

// An in-memory target folder with scripted answers, to test the core's
// decisions without touching the disk.
struct FakeHost {
    std::map<std::string, std::string> files;
    std::vector<int> overwriteAnswers;
    std::vector<std::string> passwords;
    std::vector<std::string> asked;
    std::string current;
    int cancelAt = -1;

    static FakeHost& of(void* ctx) { return *static_cast<FakeHost*>(ctx); }
    static int exists(void* ctx, const char* p) {
        return of(ctx).files.count(p) ? SFX_PATH_FILE : SFX_PATH_NONE;
    }
    static int makeDir(void*, const char*) { return SFX_OK; }
    static void* create(void* ctx, const char* p) {
        of(ctx).current = p;
        of(ctx).files[p].clear();
        return ctx;
    }
    static int write(void* ctx, void*, const unsigned char* b, std::size_t n) {
        of(ctx).files[of(ctx).current].append(reinterpret_cast<const char*>(b), n);
        return SFX_OK;
    }
    static int close(void* ctx, void*, const char* p, int keep, std::uint32_t, std::uint32_t,
                     std::uint16_t) {
        if (!keep) {
            of(ctx).files.erase(p);
        }
        return SFX_OK;
    }
    static int askOverwrite(void* ctx, const char* p) {
        auto& h = of(ctx);
        h.asked.push_back(std::string("overwrite ") + p);
        if (h.overwriteAnswers.empty()) {
            return SFX_ASK_NO;
        }
        const int a = h.overwriteAnswers.front();
        h.overwriteAnswers.erase(h.overwriteAnswers.begin());
        return a;
    }
    static int askPassword(void* ctx, const char* p, int attempt, char* buf, std::size_t cap) {
        auto& h = of(ctx);
        h.asked.push_back("password " + std::string(p) + " " + std::to_string(attempt));
        if (h.passwords.empty()) {
            return 0;
        }
        snprintf(buf, cap, "%s", h.passwords.front().c_str());
        h.passwords.erase(h.passwords.begin());
        return 1;
    }
    static int progress(void* ctx, const char*, std::uint64_t index, std::uint64_t) {
        return static_cast<int>(index) == of(ctx).cancelAt;
    }

    SfxHost host() {
        SfxHost h{};
        h.ctx = this;
        h.exists = exists;
        h.make_dir = makeDir;
        h.create_file = create;
        h.write_file = write;
        h.close_file = close;
        h.ask_overwrite = askOverwrite;
        h.ask_password = askPassword;
        h.progress = progress;
        return h;
    }
};

int extractInMemory(const Bytes& zip, FakeHost& fake, SfxRun& runState) {
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, zip.data(), zip.size());
    SfxArchive archive;
    int rc = sfx_archive_open(&archive, &src, 0);
    if (rc != SFX_OK) {
        return rc;
    }
    const SfxHost host = fake.host();
    rc = sfx_extract_all(&archive, &host, &runState);
    sfx_archive_close(&archive);
    return rc;
}

// The first `count` passwords "wrong0", "wrong1", ... whose check byte fails
// on the encryption header of every entry of `zip`.
std::vector<std::string> wrongPasswordsFor(const Bytes& zip, std::size_t count) {
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, zip.data(), zip.size());
    SfxArchive archive;
    if (sfx_archive_open(&archive, &src, 0) != SFX_OK) {
        return {};
    }
    struct Header {
        unsigned char bytes[SFX_CRYPT_HEADER];
        SfxEntry entry;
    };
    std::vector<Header> headers;
    SfxEntry e;
    while (sfx_archive_next(&archive, &e) == 1) {  // 1: an entry, 0: the end
        std::uint64_t pos = 0;
        if ((e.flags & 1u) != 0 && sfx_archive_data_pos(&archive, &e, &pos) == SFX_OK &&
            pos + SFX_CRYPT_HEADER <= zip.size()) {
            Header h{};
            std::memcpy(h.bytes, zip.data() + pos, SFX_CRYPT_HEADER);
            h.entry = e;
            h.entry.name = nullptr;
            headers.push_back(h);
        }
    }
    sfx_archive_close(&archive);
    if (headers.empty()) {
        return {};  // nothing to choose against: the caller's size check fails
    }
    std::vector<std::string> result;
    for (int i = 0; result.size() < count && i < 10000; ++i) {
        const std::string candidate = "wrong" + std::to_string(i);
        bool refused = true;
        for (const Header& h : headers) {
            SfxCrypt c;
            if (sfx_crypt_check(&c, candidate.data(), candidate.size(), h.bytes, h.entry.flags,
                                h.entry.crc, h.entry.dos_datetime) != 0) {
                refused = false;
            }
        }
        if (refused) {
            result.push_back(candidate);
        }
    }
    return result;
}

}  // namespace

TEST(SfxExtract, ConfirmAnswersDecideEachFile) {
    const Bytes zip =
        sfxtest::makeZip({{"1", {'n'}}, {"2", {'n'}}, {"3", {'n'}}, {"4", {'n'}}, {"5", {'n'}}});
    struct Case {
        const char* name;
        std::vector<int> answers;
        std::string expected;  // content of files 1..5 afterwards ('a' old, 'n' new)
        int askedCount;
        int result;
    };
    const Case cases[] = {
        {"yes, no, yes to all", {SFX_ASK_YES, SFX_ASK_NO, SFX_ASK_YES_ALL}, "nannn", 3, SFX_OK},
        {"no to all", {SFX_ASK_NO_ALL}, "aaaaa", 1, SFX_OK},
        {"cancel at the second", {SFX_ASK_YES, SFX_ASK_CANCEL}, "naaaa", 2, SFX_E_CANCEL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost fake;
        for (const char* n : {"1", "2", "3", "4", "5"}) {
            fake.files[n] = "a";
        }
        fake.overwriteAnswers = c.answers;
        SfxRun runState{};
        runState.overwrite = SFX_OVR_CONFIRM;
        EXPECT_EQ(extractInMemory(zip, fake, runState), c.result);
        std::string got;
        for (const char* n : {"1", "2", "3", "4", "5"}) {
            got += fake.files[n];
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(static_cast<int>(fake.asked.size()), c.askedCount);
    }
}

// The password is asked for when the one in use does not fit, at most three
// times per entry, and a fitting one is kept for the next entries.
TEST(SfxExtract, PasswordQuestions) {
    if (!sfxtest::haveTool("zip")) {
        GTEST_SKIP() << "Info-ZIP not installed";
    }
    sfxtest::TempDir dir;
    writeSamples(dir / "src");
    ASSERT_EQ(run("cd " + quote(dir / "src") + " && zip -qr -P richtig " + quote(dir / "p.zip") +
                  " text.txt sub"),
              0);
    const Bytes zip = sfxtest::readFile(dir / "p.zip");
    // zip -P writes random encryption headers, so a wrong password passes the
    // one-byte check now and then (1 in 256). Use wrong passwords that every
    // entry's header of this archive refuses, so the count of questions is exact.
    const std::vector<std::string> wrong = wrongPasswordsFor(zip, 3);
    ASSERT_EQ(wrong.size(), 3u);
    const std::string& x = wrong[0];
    const std::string& y = wrong[1];
    const std::string& z = wrong[2];
    struct Case {
        const char* name;
        std::vector<std::string> answers;
        std::uint64_t extracted;
        std::size_t questions;
    };
    const Case cases[] = {
        {"right at once, kept for the rest", {"richtig"}, 3, 1},
        {"wrong, then right", {x, "richtig"}, 3, 2},
        {"three wrong per entry", {x, y, z, x, y, z, x, y, z}, 0, 9},
        {"none given", {}, 0, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost fake;
        fake.passwords = c.answers;
        SfxRun runState{};
        extractInMemory(zip, fake, runState);
        EXPECT_EQ(runState.extracted, c.extracted);
        EXPECT_EQ(fake.asked.size(), c.questions);
    }
}

TEST(SfxExtract, CancelStopsBeforeTheNextEntry) {
    const Bytes zip = sfxtest::makeZip({{"1", {'1'}}, {"2", {'2'}}, {"3", {'3'}}});
    FakeHost fake;
    fake.cancelAt = 1;
    SfxRun runState{};
    EXPECT_EQ(extractInMemory(zip, fake, runState), SFX_E_CANCEL);
    EXPECT_EQ(runState.extracted, 1u);
    EXPECT_TRUE(runState.cancelled);
    EXPECT_EQ(fake.files.size(), 1u);
}

// ---- self-extracting sets spread over parts ----

namespace {

// The parts name001.zip, name002.zip, ... beside `program`, in order.
std::vector<fs::path> partsOf(const fs::path& program) {
    std::vector<fs::path> parts;
    for (int n = 1; n < 1000; ++n) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%03d", n);
        const fs::path p = program.parent_path() / (program.stem().string() + digits + ".zip");
        if (!fs::exists(p)) {
            break;
        }
        parts.push_back(p);
    }
    return parts;
}

// The samples zipped by Info-ZIP as dir/stem.zip, written by the component
// as the self-extracting set dir/stem.exe with parts of at most `volume`
// bytes. The set's name (stem.zip) is the archive it is made from, as with
// "tarvik-cli sfx --volume-size".
fs::path makeSet(const fs::path& dir, const std::string& stem, const std::string& zipOptions,
                 std::int64_t volume) {
    const fs::path zip = dir / (stem + ".zip");
    EXPECT_EQ(
        run("cd " + quote(dir / "src") + " && zip -qr " + zipOptions + " " + quote(zip) + " ."), 0);
    const fs::path exe = dir / (stem + ".exe");
    rewrite_test::Component comp(zip.string());
    comp.zip.SetMaxVolumeSize(volume);
    comp.zip.SetMinFreeVolumeSize(4096);  // lets the first part beside the stub be small
    EXPECT_EQ(comp.zip.ConvertToSpanSFX(exe.string()), 0);
    return exe;
}

// True when every file below `out` is the same as its namesake below `src`:
// nothing half written is left behind.
bool onlyCompleteFiles(const fs::path& src, const fs::path& out) {
    if (!fs::exists(out)) {
        return true;
    }
    for (const auto& e : fs::recursive_directory_iterator(out)) {
        if (e.is_regular_file() &&
            sfxtest::readFile(e.path()) != sfxtest::readFile(src / fs::relative(e.path(), out))) {
            return false;
        }
    }
    return true;
}

// True when `message` names part `number` (from 1) of `stem`'s set, alone
// "(.../stemNNN.zip)" or in a range "(one of .../stemAAA.zip ... .../stemBBB.zip)".
bool namesPart(const std::string& message, const std::string& stem, int number) {
    const std::string part = "[^ ()]*/" + stem + "([0-9]{3})\\.zip";
    const std::regex single("\\(" + part + "\\)");
    const std::regex range("\\(one of " + part + " \\.\\.\\. " + part + "\\)");
    for (auto it = std::sregex_iterator(message.begin(), message.end(), single);
         it != std::sregex_iterator(); ++it) {
        if (std::stoi((*it)[1]) == number) {
            return true;
        }
    }
    for (auto it = std::sregex_iterator(message.begin(), message.end(), range);
         it != std::sregex_iterator(); ++it) {
        if (std::stoi((*it)[1]) <= number && number <= std::stoi((*it)[2])) {
            return true;
        }
    }
    return false;
}

class SfxSpannedSet : public ::testing::Test {
protected:
    void SetUp() override {
        if (FindRawResource(SFX_STUB_RESOURCE_NAME).empty()) {
            GTEST_SKIP() << "built without the self-extractor stub";
        }
        if (!sfxtest::haveTool("zip")) {
            GTEST_SKIP() << "Info-ZIP not installed";
        }
        writeSamples(dir / "src");
    }
    sfxtest::TempDir dir;
};

}  // namespace

// Sets in several part sizes, stored, deflated and encrypted: the random
// file (150,000 bytes) is larger than any part, so its data crosses from
// part to part; all of them extract byte for byte.
TEST_F(SfxSpannedSet, ExtractsEveryEntry) {
    struct Case {
        const char* name;
        const char* zipOptions;
        const char* password;
        std::int64_t volume;
        std::size_t minParts;
    };
    const Case cases[] = {
        {"stored, small parts", "-0", "", 66000, 6},
        {"deflated, small parts", "-6", "", 66000, 4},
        {"deflated, larger parts", "-9", "", 120000, 2},
        {"stored, parts of odd size", "-0", "", 99991, 4},
        {"encrypted stored", "-0 -P Kennwort1", "Kennwort1", 70001, 6},
        {"encrypted deflated", "-6 -P Kennwort1", "Kennwort1", 66000, 4},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string stem = "s" + std::to_string(n++);
        const fs::path exe = makeSet(dir.path(), stem, c.zipOptions, c.volume);
        EXPECT_GE(partsOf(exe).size(), c.minParts);
        const std::string opt = *c.password ? std::string("--password ") + c.password : "";
        const fs::path out = dir / ("out" + stem);
        EXPECT_EQ(extract(exe, out, opt), 0);
        EXPECT_TRUE(sameTree(dir / "src", out));
    }
}

// The command-line tool writes the set beside the archive it is made from,
// also with parts that leave the first one little room beside the program
// (less than a disk must have free, which refused them before).
TEST_F(SfxSpannedSet, SetWrittenByTheCommandLineTool) {
    ASSERT_EQ(run("cd " + quote(dir / "src") + " && zip -qr " + quote(dir / "c.zip") + " ."), 0);
    const struct {
        const char* volume;
        std::size_t minParts;
    } cases[] = {{"130000", 2}, {"100k", 3}, {"70k", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        fs::remove_all(dir / "out");
        ASSERT_EQ(run(quote(TARVIK_CLI_PATH) + " sfx --volume-size " + c.volume + " " +
                      quote(dir / "c.zip")),
                  0);
        EXPECT_GE(partsOf(dir / "c.exe").size(), c.minParts);
        EXPECT_EQ(extract(dir / "c.exe", dir / "out"), 0);
        EXPECT_TRUE(sameTree(dir / "src", dir / "out"));
    }
    // A part too small for the program and a little data is refused.
    EXPECT_NE(run(quote(TARVIK_CLI_PATH) + " sfx --volume-size 40k " + quote(dir / "c.zip")), 0);
}

// A missing part stops the program before it writes anything; a damaged
// one fails the entries whose data lies on it, names it, and leaves no
// half-written file; the other entries are extracted.
TEST_F(SfxSpannedSet, MissingOrDamagedPart) {
    const fs::path exe = makeSet(dir.path(), "d", "-6", 66000);
    const std::vector<fs::path> parts = partsOf(exe);
    ASSERT_GE(parts.size(), 4u);
    const fs::path other = makeSet(dir.path(), "x", "-0", 66000);
    const fs::path kept = dir / "kept";
    fs::create_directories(kept);
    for (const fs::path& p : parts) {
        fs::copy_file(p, kept / p.filename());
    }
    struct Case {
        const char* name;
        int part;  // from 1
        std::function<void(const fs::path&)> damage;
        int exitCode;
    };
    const auto cut = [](std::uintmax_t keep) {
        return [keep](const fs::path& p) { fs::resize_file(p, std::min(fs::file_size(p), keep)); };
    };
    const auto shorten = [](std::uintmax_t by) {
        return [by](const fs::path& p) { fs::resize_file(p, fs::file_size(p) - by); };
    };
    const Case cases[] = {
        {"second part missing", 2, [](const fs::path& p) { fs::remove(p); }, 2},
        {"last part missing", static_cast<int>(parts.size()),
         [](const fs::path& p) { fs::remove(p); }, 2},
        {"first part a few bytes short", 1, shorten(100), 1},
        {"second part a few bytes short", 2, shorten(1), 1},
        {"third part cut in half", 3, cut(33000), 1},
        {"first part cut to nothing", 1, cut(0), 1},
        {"part of another set", 2,
         [&other](const fs::path& p) {
             fs::copy_file(partsOf(other)[1], p, fs::copy_options::overwrite_existing);
         },
         1},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path part = parts[static_cast<std::size_t>(c.part - 1)];
        c.damage(part);
        const fs::path out = dir / ("out" + std::to_string(n++));
        const ztest::ShellResult r =
            ztest::Shell(quote(kDriver) + " " + quote(exe) + " " + quote(out));
        EXPECT_EQ(r.status, c.exitCode) << r.output;
        EXPECT_TRUE(namesPart(r.output, "d", c.part)) << r.output;
        EXPECT_TRUE(onlyCompleteFiles(dir / "src", out));
        if (c.exitCode == 2) {
            EXPECT_FALSE(fs::exists(out));
        }
        fs::copy_file(kept / part.filename(), part, fs::copy_options::overwrite_existing);
    }
    // all parts back in place: the set is whole again
    EXPECT_EQ(extract(exe, dir / "whole"), 0);
    EXPECT_TRUE(sameTree(dir / "src", dir / "whole"));
}

namespace {

struct SetResult {
    SfxRun run{};
    int open = SFX_OK;
    int extract = SFX_OK;
    std::uint32_t badFirst = SFX_PART_NONE, badLast = SFX_PART_NONE;
};

// Opens the set in memory (its parts from the first `present` on missing)
// and extracts it into `fake`, replacing files.
SetResult extractSet(const sfxtest::SpannedSet& set, FakeHost& fake, std::size_t present) {
    std::vector<const unsigned char*> data;
    std::vector<std::size_t> sizes;
    for (const Bytes& p : set.parts) {
        data.push_back(p.data());
        sizes.push_back(p.size());
    }
    SfxParts parts;
    SfxMemoryParts mem;
    sfx_parts_memory(&parts, &mem, data.data(), sizes.data(),
                     static_cast<std::uint32_t>(std::min(present, set.parts.size())));
    SfxSource src;
    SfxMemorySource program;
    sfx_source_memory(&src, &program, set.program.data(), set.program.size());
    SfxArchive archive;
    SetResult r;
    r.run.overwrite = SFX_OVR_ALWAYS;
    r.open = sfx_archive_open_set(&archive, &src, 0, &parts);
    if (r.open == SFX_OK) {
        const SfxHost host = fake.host();
        r.extract = sfx_extract_all(&archive, &host, &r.run);
        sfx_archive_close(&archive);
    }
    r.badFirst = archive.bad_first;
    r.badLast = archive.bad_last;
    return r;
}

const std::vector<sfxtest::ZipEntry>& setEntries() {
    static const std::vector<sfxtest::ZipEntry> entries = {
        {"a.bin", sfxtest::randomBytes(300, 1)},
        {"b.txt", Bytes(700, 'b'), true},
        {"leer", {}},
        {"c.bin", sfxtest::randomBytes(200, 2), true},
        {"d.bin", sfxtest::randomBytes(90, 3)}};
    return entries;
}

// Every file in `fake` is the entry of that name, whole.
bool onlyWholeEntries(const FakeHost& fake) {
    for (const auto& [name, content] : fake.files) {
        bool found = false;
        for (const auto& e : setEntries()) {
            found |= e.name == name && content == std::string(e.data.begin(), e.data.end());
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Sets cut at every part size from 40 to 360 bytes (3 to 25 parts): headers moved to the
// next part, data split at every position, ending exactly at a part's end
// or starting exactly at one's beginning.
TEST(SfxExtract, SpannedSetAtEveryPartSize) {
    const Bytes zip = sfxtest::makeZip(setEntries());
    for (std::size_t size = 40; size <= 360; ++size) {
        SCOPED_TRACE(size);
        // every seventh with Zip64 end records
        const sfxtest::SpannedSet set = sfxtest::spanZip(zip, size, size % 7 == 0);
        ASSERT_GE(set.parts.size(), 3u);
        FakeHost fake;
        const SetResult r = extractSet(set, fake, set.parts.size());
        ASSERT_EQ(r.open, SFX_OK);
        EXPECT_EQ(r.extract, SFX_OK);
        EXPECT_EQ(r.run.extracted, setEntries().size());
        EXPECT_EQ(fake.files.size(), setEntries().size());
        EXPECT_TRUE(onlyWholeEntries(fake));
    }
}

// Each part missing, or cut short by one byte, by half, to nothing: the
// open fails naming the missing part; a cut part fails the entries on it
// with SFX_E_PART, naming a range of parts that holds it, and no file is
// kept unless whole.
TEST(SfxExtract, SpannedSetWithMissingOrCutPart) {
    const Bytes zip = sfxtest::makeZip(setEntries());
    for (std::size_t size : {97u, 160u, 333u}) {
        const sfxtest::SpannedSet whole = sfxtest::spanZip(zip, size);
        for (std::size_t k = 0; k < whole.parts.size(); ++k) {
            SCOPED_TRACE("part size " + std::to_string(size) + ", part " + std::to_string(k));
            {
                FakeHost fake;
                const SetResult r = extractSet(whole, fake, k);
                EXPECT_EQ(r.open, SFX_E_NOPART);
                EXPECT_EQ(r.badFirst, k);
                EXPECT_TRUE(fake.files.empty());
            }
            // the last part ends with the set's own directory, which nobody reads
            const std::size_t entriesEnd = k + 1 == whole.parts.size()
                                               ? whole.parts[k].size() - whole.program.size()
                                               : whole.parts[k].size();
            for (std::size_t keep : {entriesEnd - 1, entriesEnd / 2, std::size_t{0}}) {
                SCOPED_TRACE("kept " + std::to_string(keep));
                sfxtest::SpannedSet set = whole;
                set.parts[k].resize(keep);
                FakeHost fake;
                const SetResult r = extractSet(set, fake, set.parts.size());
                ASSERT_EQ(r.open, SFX_OK);
                EXPECT_GE(r.run.failed, 1u);
                EXPECT_TRUE(onlyWholeEntries(fake));
                // the cut is found as such, not only as damaged data of an entry
                EXPECT_EQ(r.extract, SFX_E_PART);
                EXPECT_LE(r.badFirst, k);
                EXPECT_GE(r.badLast, k);
            }
        }
    }
}
