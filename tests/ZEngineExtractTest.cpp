// Extract and test jobs through the loaded engine library: archives written by the peer
// tools, the callbacks of extraction, unsafe names and links, cancel, and the memory job.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>

#include "ZEngineHarness.h"

using namespace zetest;

namespace {

std::string sample(size_t n, unsigned seed) {
    std::string s;
    while (s.size() < n)
        s += "line " + std::to_string(seed = seed * 1103515245 + 12345) + " of sample text\n";
    s.resize(n);
    return s;
}

void makeSources(const fs::path& src) {
    writeFile(src / "text.txt", sample(300000, 1));
    writeFile(src / "dir/small.txt", "hello\n");
    writeFile(src / "dir/empty", "");
    std::string bin(100000, '\0');
    unsigned s = 5;
    for (auto& c : bin)
        c = char((s = s * 1664525 + 1013904223) >> 24);
    writeFile(src / "dir/random.bin", bin);
}

struct PeerCase {
    const char* title;
    const char* command;  // run in the source folder, writes ../a.zip
    const char* password;
};

class ZEnginePeer : public ::testing::TestWithParam<PeerCase> {};

TEST_P(ZEnginePeer, ExtractsByteIdentical) {
    const PeerCase& c = GetParam();
    TempDir t;
    makeSources(t.path / "src");
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && " + c.command), 0) << c.command;
    for (bool testOnly : {true, false}) {
        Harness h;
        h.archive = t / "a.zip";
        h.password = c.password;
        h.base = t / "out";
        fs::create_directories(h.base);
        int32_t n = testOnly ? h.test() : h.extract();
        EXPECT_GE(n, 4) << c.title << (testOnly ? " test" : " extract");
        EXPECT_TRUE(h.skips.empty()) << c.title << ": " << (h.skips.empty() ? "" : h.skips[0].name);
    }
    for (const char* f : {"text.txt", "dir/small.txt", "dir/empty", "dir/random.bin"})
        EXPECT_EQ(readFile(t.path / "out" / f), readFile(t.path / "src" / f))
            << c.title << " " << f;
}

INSTANTIATE_TEST_SUITE_P(
    ZEngine, ZEnginePeer,
    ::testing::Values(
        PeerCase{"zip", "zip -qr ../a.zip .", ""},
        PeerCase{"zip_password", "zip -qr -P 'pass word' ../a.zip .", "pass word"},
        PeerCase{"zip_stored", "zip -qr0 ../a.zip .", ""},
        PeerCase{"zip_streamed", "zip -qr - . > '../a.zip'", ""},
        PeerCase{"sevenzip_deflate", "7zz a -tzip -mm=Deflate ../a.zip . >/dev/null", ""},
        PeerCase{"sevenzip_bzip2", "7zz a -tzip -mm=BZip2 ../a.zip . >/dev/null", ""},
        PeerCase{"sevenzip_lzma", "7zz a -tzip -mm=LZMA ../a.zip . >/dev/null", ""},
        PeerCase{"sevenzip_aes256", "7zz a -tzip -pgeheim -mem=AES256 ../a.zip . >/dev/null",
                 "geheim"},
        PeerCase{"sevenzip_aes128", "7zz a -tzip -pgeheim -mem=AES128 ../a.zip . >/dev/null",
                 "geheim"},
        PeerCase{"bsdtar", "bsdtar -a -cf ../a.zip .", ""},
        PeerCase{"python",
                 "python3 -c \"import zipfile,os; "
                 "z=zipfile.ZipFile('../a.zip','w',zipfile.ZIP_DEFLATED); "
                 "[z.write(os.path.join(r,f)) for r,d,fs in os.walk('.') for f in fs]; z.close()\"",
                 ""},
        PeerCase{"python_bzip2_lzma",
                 "python3 -c \"import zipfile,os; z=zipfile.ZipFile('../a.zip','w'); "
                 "[z.write(os.path.join(r,f), compress_type=(zipfile.ZIP_BZIP2 if i%2 else "
                 "zipfile.ZIP_LZMA)) for i,(r,f) in enumerate((r,f) for r,d,fs in os.walk('.') for "
                 "f in fs)]; z.close()\"",
                 ""}),
    [](const auto& info) { return std::string(info.param.title); });

// Builds an archive with python's zipfile from (name, data, unix mode) triples.
void pythonZip(const std::string& zip,
               const std::vector<std::tuple<std::string, std::string, int>>& entries) {
    std::string script = "import zipfile\nz=zipfile.ZipFile(" + std::string("'") + zip + "','w')\n";
    for (auto& [name, data, mode] : entries) {
        script += "i=zipfile.ZipInfo(" + std::string("r'") + name +
                  "')\ni.create_system=3\ni.external_attr=" + std::to_string(mode) +
                  "<<16\nz.writestr(i, r'" + data + "')\n";
    }
    script += "z.close()\n";
    TempDir t;
    writeFile(t.path / "mk.py", script);
    ASSERT_EQ(sh("python3 '" + (t / "mk.py") + "'"), 0) << script;
}

TEST(ZEngineSafety, UnsafeNamesAndLinksNeverWriteOutside) {
    TempDir t;
    fs::create_directories(t.path / "target");
    fs::create_directories(t.path / "outside");
    std::string zip = t / "evil.zip";
    const int file = 0100644, link = 0120777;
    pythonZip(zip, {{"../escape.txt", "x", file},
                    {"/tmp/zetest-absolute.txt", "x", file},
                    {"C:/drive.txt", "x", file},
                    {"ok/../../up.txt", "x", file},
                    {"good.txt", "fine", file},
                    {"out", "../outside", link},
                    {"out/planted.txt", "x", file},
                    {"abs", "/etc", link},
                    {"inner", "good.txt", link},
                    {"sub/back", "../good.txt", link}});
    Harness h;
    h.archive = zip;
    h.base = t / "target";
    int32_t n = h.extract();
    EXPECT_EQ(n, 4);  // good.txt, out/planted.txt (in a real folder), inner, sub/back
    EXPECT_EQ(readFile(t.path / "target/good.txt"), "fine");
    EXPECT_TRUE(fs::is_symlink(t.path / "target/inner"));
    EXPECT_TRUE(fs::is_symlink(t.path / "target/sub/back"));
    EXPECT_FALSE(fs::is_symlink(t.path / "target/out"));
    EXPECT_TRUE(fs::exists(t.path / "target/out/planted.txt"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(t.path / "target/abs")));
    EXPECT_FALSE(fs::exists(t.path / "escape.txt"));
    EXPECT_FALSE(fs::exists(t.path / "up.txt"));
    EXPECT_FALSE(fs::exists("/tmp/zetest-absolute.txt"));
    EXPECT_TRUE(fs::is_empty(t.path / "outside"));
    EXPECT_GE(h.skips.size(), 6u);
    for (const Skip& s : h.skips)
        EXPECT_NE(s.type, ZE_SKIP_NOT_FOUND) << s.name;
}

TEST(ZEngineSafety, ExistingLinkInTheTargetIsNotFollowed) {
    TempDir t;
    fs::create_directories(t.path / "target");
    fs::create_directories(t.path / "outside");
    fs::create_directory_symlink(t.path / "outside", t.path / "target/dir");
    writeFile(t.path / "outside/victim.txt", "original");
    fs::create_symlink(t.path / "outside/victim.txt", t.path / "target/victim.txt");
    std::string zip = t / "l.zip";
    pythonZip(zip, {{"dir/new.txt", "x", 0100644}, {"victim.txt", "replaced", 0100644}});
    Harness h;
    h.archive = zip;
    h.base = t / "target";
    h.extraFlags = ZE_FLAG_OVERWRITE;
    EXPECT_EQ(h.extract(), 1);
    EXPECT_FALSE(fs::exists(t.path / "outside/new.txt"));
    EXPECT_EQ(readFile(t.path / "outside/victim.txt"), "original");
    EXPECT_FALSE(fs::is_symlink(t.path / "target/victim.txt"));  // the link itself was replaced
    EXPECT_EQ(readFile(t.path / "target/victim.txt"), "replaced");
}

TEST(ZEngineExtractOptions, OverwriteFreshenUpdateAndNames) {
    TempDir t;
    std::string zip = t / "o.zip";
    writeFile(t.path / "src/a.txt", "archived a");
    writeFile(t.path / "src/b.txt", "archived b");
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -q ../o.zip a.txt b.txt"), 0);
    auto now = fs::file_time_type::clock::now();
    struct Case {
        const char* title;
        uint32_t flags;
        int overwriteAnswer;
        bool aNewer;  // the file on disk is newer than the entry
        const char* expectA;
        const char* expectB;  // b.txt does not exist on disk before
    };
    for (Case c : {Case{"ask, no handler, no overwrite", 0, 0, false, "disk a", "archived b"},
                   Case{"overwrite flag", ZE_FLAG_OVERWRITE, 0, false, "archived a", "archived b"},
                   Case{"handler says overwrite", 0, 1, false, "archived a", "archived b"},
                   Case{"handler says keep", ZE_FLAG_OVERWRITE, 2, false, "disk a", "archived b"},
                   Case{"freshen older", ZE_FLAG_FRESHEN, 0, false, "archived a", ""},
                   Case{"freshen newer", ZE_FLAG_FRESHEN, 0, true, "disk a", ""},
                   Case{"update newer", ZE_FLAG_UPDATE, 0, true, "disk a", "archived b"}}) {
        fs::remove_all(t.path / "x");
        writeFile(t.path / "x/a.txt", "disk a");
        fs::last_write_time(t.path / "x/a.txt", c.aNewer ? now + std::chrono::hours(24)
                                                         : now - std::chrono::hours(24 * 400));
        Harness h;
        h.archive = zip;
        h.base = t / "x";
        h.overwriteAnswer = c.overwriteAnswer;
        h.extract(ZE_FLAG_DIRNAMES | c.flags);
        EXPECT_EQ(readFile(t.path / "x/a.txt"), c.expectA) << c.title;
        EXPECT_EQ(fs::exists(t.path / "x/b.txt") ? readFile(t.path / "x/b.txt") : "", c.expectB)
            << c.title;
    }
    // Names: changed through the extract-name callback, and without folder names.
    fs::remove_all(t.path / "x");
    fs::create_directories(t.path / "x");
    Harness r;
    r.archive = zip;
    r.base = t / "x";
    r.includes = {"a.*"};
    r.extractName = [](const std::string& n) { return "renamed/" + n; };
    EXPECT_EQ(r.extract(), 1);
    EXPECT_EQ(readFile(t.path / "x/renamed/a.txt"), "archived a");
    EXPECT_FALSE(fs::exists(t.path / "x/b.txt"));
}

// Every file write fails (the file size limit of the process stands for a full disk) while
// more entries than the decode-ahead and write-behind queues hold are in flight: each
// failure is reported, the job ends, and a cancel in the middle ends it as well.
TEST(ZEngineExtractOptions, FailingWritesAndCancelEndTheBoundedQueues) {
    TempDir t;
    for (int i = 0; i < 40; ++i)
        writeFile(t.path / ("src/f" + std::to_string(i) + ".txt"), sample(2u << 20, unsigned(i)));
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -q -1 ../q.zip *.txt"), 0);
    for (int way = 0; way < 2; ++way) {
        fs::remove_all(t.path / "x");
        fs::create_directories(t.path / "x");
        Harness h;
        h.archive = t / "q.zip";
        h.base = t / "x";
        struct rlimit old {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldSignal = signal(SIGXFSZ, SIG_IGN);
        if (way == 0) {
            struct rlimit low = old;
            low.rlim_cur = 1u << 20;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
        } else {
            h.abortOnFirstProgress = true;
        }
        const int32_t r = h.extract();
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldSignal);
        if (way == 0) {
            EXPECT_EQ(r, 0) << "no file could be written";
            EXPECT_EQ(h.skips.size(), 40u) << "each failure is reported";
        } else {
            EXPECT_LT(r, 0) << "cancelled";
        }
    }
}

TEST(ZEngineExtractOptions, WrongPasswordsLeaveNoFileAndAbortStops) {
    TempDir t;
    writeFile(t.path / "src/s.txt", sample(5000, 3));
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -q -P right ../p.zip s.txt"), 0);
    struct Case {
        std::vector<std::string> answers;
        int tries;
        int32_t result;
        size_t prompts;
    };
    for (Case c : {Case{{}, 0, 0, 0}, Case{{"a", "b", "c"}, 2, 0, 2}, Case{{"a", "right"}, 3, 1, 2},
                   Case{{"<abort>"}, 3, -2, 1}}) {
        fs::remove_all(t.path / "x");
        fs::create_directories(t.path / "x");
        Harness h;
        h.archive = t / "p.zip";
        h.base = t / "x";
        h.passwordTries = c.tries;
        h.passwordAnswers = c.answers;
        EXPECT_EQ(h.extract(), c.result);
        EXPECT_EQ(h.passwordPrompts.size(), c.prompts);
        EXPECT_EQ(fs::exists(t.path / "x/s.txt"), c.result == 1);
        EXPECT_EQ(std::distance(fs::directory_iterator(t.path / "x"), fs::directory_iterator()),
                  c.result == 1 ? 1 : 0);
    }
}

TEST(ZEngineExtractOptions, CrcErrorAsksAndDiscardsByDefault) {
    TempDir t;
    writeFile(t.path / "src/c.txt", "some content that will be damaged");
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -q -0 ../c.zip c.txt"), 0);
    std::string z = readFile(t.path / "c.zip");
    size_t at = z.find("some content");
    z[at] = 'S';
    writeFile(t.path / "c.zip", z);
    for (int answer : {0, 3, 1}) {
        fs::remove_all(t.path / "x");
        fs::create_directories(t.path / "x");
        Harness h;
        h.archive = t / "c.zip";
        h.base = t / "x";
        h.crcAnswer = answer;
        EXPECT_EQ(h.extract(), answer == 1 ? 1 : 0) << answer;
        EXPECT_EQ(h.crcErrors.size(), 1u);
        EXPECT_EQ(fs::exists(t.path / "x/c.txt"), answer == 1) << answer;
        Harness v;
        v.archive = t / "c.zip";
        EXPECT_EQ(v.test(), 0);
    }
}

TEST(ZEngineMemoryJob, DeflatesAStreamAndReportsTheCrc) {
    std::string text = sample(50000, 11);
    MemStream in, out;
    in.data.assign(text.begin(), text.end());
    for (int method : {8, 0}) {
        out.data.clear();
        ZEMemJob mj{method, 0, int64_t(in.data.size()), &in, &out};
        in.pos = 0;
        Harness h;
        ASSERT_EQ(h.run(ZE_FLAG_ADD, &mj), 1);
        EXPECT_EQ(mj.Method, method);
        if (method == 8) {
            EXPECT_LT(out.data.size(), in.data.size() / 2);
        } else {
            EXPECT_EQ(out.data, in.data);
        }
    }
    // The CRC is the standard one: compare against python's.
    TempDir t;
    writeFile(t.path / "d", text);
    std::string o = t / "crc";
    sh("python3 -c \"import zlib,sys; print('%08x' % zlib.crc32(open(sys.argv[1],'rb').read()))\" "
       "'" +
       (t / "d") + "' > '" + o + "'");
    ZEMemJob mj{8, 0, int64_t(in.data.size()), &in, &out};
    in.pos = 0;
    Harness h;
    ASSERT_EQ(h.run(ZE_FLAG_ADD, &mj), 1);
    char hex[16];
    snprintf(hex, sizeof hex, "%08x\n", mj.Crc32);
    EXPECT_EQ(readFile(o), hex);
}

TEST(ZEngineExports, VersionNameAndJobChecks) {
    EngineLib& lib = EngineLib::get();
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_TRUE(lib.exec && lib.version && lib.privVersion && lib.abort && lib.name && lib.banner &&
                lib.path);
    EXPECT_EQ(lib.version(), 190);
    EXPECT_GE(lib.privVersion(), 1900111);
    char buf[261] = {};
    lib.name(buf, 260, 0);
    EXPECT_STREQ(buf, "ZAEngine190.so");
    EXPECT_NE(std::string(lib.banner()), "");
    ZEJobRec job;
    memset(&job, 0, sizeof job);
    job.Version = 190;
    job.Check = 0x1234;
    EXPECT_LT(lib.exec(&job), 0);
    EXPECT_EQ(lib.abort(987654), 0);
}

}  // namespace
