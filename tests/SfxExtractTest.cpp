// Self-extracting programs built the way the converter builds them (stub
// image, configuration block, archive), checked with Info-ZIP and 7-Zip and
// extracted with the native driver over the stub's core; plus the core's
// decisions about names, existing files and passwords, with an in-memory
// file system.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "SfxTestSupport.h"
#include "sfx_crypt.h"
#include "sfx_extract.h"
#include "sfx_result.h"
#include "sfx_zip.h"
#include "sfxblock.h"

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

// Zip64 records, names in code page 437 and in UTF-8, and damaged data that
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

    // 0x84 is "ä" in code page 437; the second name is flagged... not at all,
    // so it is taken as code page 437 as well
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
