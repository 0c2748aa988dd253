// Add jobs through the loaded engine library; every archive is checked by the peer tools and
// extracted again by the engine for a byte-identical comparison.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <set>
#include <sstream>

#include "ZATestZip.h"
#include "ZEngineHarness.h"
#include "tests/PlatformTestSupport.h"

using namespace zetest;

namespace {

std::string pseudoText(size_t n, unsigned seed) {
    static const char* words[] = {"zip ",    "archive ", "Tarvik ", "deflate ",
                                  "entry\n", "header ",  "Ärger "};
    std::string s;
    while (s.size() < n)
        s += words[(seed = seed * 1103515245 + 12345) % 7];
    s.resize(n);
    return s;
}

std::string randomBytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (auto& c : s)
        c = char((seed = seed * 1664525 + 1013904223) >> 24);
    return s;
}

// A job adding `includes` from t/src to the archive t/`name`.
Harness adding(const TempDir& t, const std::string& name, std::vector<std::string> includes) {
    Harness h;
    h.archive = t / name;
    h.root = t / "src";
    h.includes = std::move(includes);
    return h;
}

// A job extracting `archive` into the folder `base`, which it creates.
Harness extractingTo(const std::string& archive, const std::string& base) {
    Harness x;
    x.archive = archive;
    x.base = base;
    fs::create_directories(x.base);
    return x;
}

// What a Python snippet prints about the archive (sys.argv[1]).
std::string pythonOn(const std::string& zip, const std::string& code) {
    return ztest::Shell("python3 -c \"import zipfile,sys; " + code + "\" " + ztest::Quote(zip) +
                        " 2>/dev/null")
        .output;
}

// The peer tools must accept the archive.
void checkWithPeers(const std::string& zip, const std::string& password = "") {
    std::string pw = password.empty() ? "" : " -P '" + password + "'";
    EXPECT_EQ(sh("unzip -t" + pw + " '" + zip + "'"), 0) << "unzip -t " << zip;
    std::string p7 = password.empty() ? "" : " '-p" + password + "'";
    EXPECT_EQ(sh("7zz t" + p7 + " '" + zip + "'"), 0) << "7zz t " << zip;
    EXPECT_EQ(sh("bsdtar -tf '" + zip + "'"), 0) << "bsdtar -tf " << zip;
    if (password.empty()) {
        EXPECT_EQ(sh("python3 -m zipfile -t '" + zip + "'"), 0) << "python zipfile " << zip;
    }
}

// The lines a Python snippet prints about the archive, sorted.
std::set<std::string> pythonLines(const std::string& zip, const std::string& code) {
    std::set<std::string> lines;
    std::string all = pythonOn(zip, code), line;
    for (char c : all) {
        if (c == '\n') {
            lines.insert(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return lines;
}

std::set<std::string> listNames(const std::string& zip) {
    return pythonLines(zip, "[print(n) for n in zipfile.ZipFile(sys.argv[1]).namelist()]");
}

struct AddCase {
    const char* title;
    std::vector<std::string> includes;
    std::vector<std::string> excludes;
    uint32_t flags;
    int level;
    std::set<std::string> expected;
};

class ZEngineAdd : public ::testing::TestWithParam<AddCase> {};

// Source tree shared by the cases.
void makeTree(const fs::path& root) {
    writeFile(root / "a.txt", pseudoText(5000, 1));
    writeFile(root / "b.bin", randomBytes(70000, 2));
    writeFile(root / "empty.txt", "");
    writeFile(root / "sub/c.txt", pseudoText(200000, 3));
    writeFile(root / "sub/deep/d.txt", pseudoText(10, 4));
    writeFile(root / "sub/.hidden", "secret");
    writeFile(root / "pic.png", randomBytes(1000, 5));
    fs::create_directories(root / "emptydir");
}

TEST_P(ZEngineAdd, WritesWhatPeersAcceptAndExtractsIdentically) {
    const AddCase& c = GetParam();
    TempDir t;
    makeTree(t.path / "src");
    Harness h = adding(t, "out.zip", c.includes);
    h.excludes = c.excludes;
    h.level = c.level;
    int32_t n = h.add(c.flags);
    ASSERT_GE(n, 1) << c.title;
    EXPECT_EQ(size_t(n), c.expected.size()) << c.title;
    EXPECT_EQ(listNames(h.archive), c.expected) << c.title;
    checkWithPeers(h.archive);

    Harness x = extractingTo(h.archive, t / "x");
    EXPECT_EQ(x.extract(ZE_FLAG_DIRNAMES), n);
    for (const std::string& name : c.expected) {
        fs::path out = fs::path(x.base) / name;
        if (name.back() == '/') {
            EXPECT_TRUE(fs::is_directory(out)) << name;
            continue;
        }
        fs::path src = t.path / "src" / name;
        if (c.flags & ZE_FLAG_NO_DIRNAMES) {
            for (auto& e : fs::recursive_directory_iterator(t.path / "src"))
                if (e.path().filename() == name)
                    src = e.path();
        }
        EXPECT_EQ(readFile(out), readFile(src)) << name;
        EXPECT_EQ(mtimeSeconds(out), mtimeSeconds(src)) << name;
    }
}

const uint32_t kNoDirs = ZE_FLAG_NO_EMPTY_DIRS;
INSTANTIATE_TEST_SUITE_P(
    ZEngine, ZEngineAdd,
    ::testing::Values(AddCase{"one file", {"a.txt"}, {}, 0, 6, {"a.txt"}},
                      AddCase{"stored level 0", {"a.txt", "b.bin"}, {}, 0, 0, {"a.txt", "b.bin"}},
                      AddCase{"level 9", {"a.txt", "sub/c.txt"}, {}, 0, 9, {"a.txt", "sub/c.txt"}},
                      AddCase{"level 1", {"*.txt"}, {}, 0, 1, {"a.txt", "empty.txt"}},
                      AddCase{"wildcard recursion",
                              {"*.txt"},
                              {},
                              ZE_FLAG_RECURSE,
                              6,
                              {"a.txt", "empty.txt", "sub/c.txt", "sub/deep/d.txt"}},
                      AddCase{"folder recursion with folder entries",
                              {"sub"},
                              {},
                              ZE_FLAG_RECURSE,
                              6,
                              {"sub/", "sub/c.txt", "sub/deep/", "sub/deep/d.txt"}},
                      AddCase{"hidden files on request",
                              {"sub"},
                              {},
                              ZE_FLAG_RECURSE | ZE_FLAG_HIDDEN | kNoDirs,
                              6,
                              {"sub/.hidden", "sub/c.txt", "sub/deep/d.txt"}},
                      AddCase{"exclusions",
                              {"*"},
                              {"*.bin", "sub/deep/*"},
                              ZE_FLAG_RECURSE | kNoDirs,
                              6,
                              {"a.txt", "empty.txt", "pic.png", "sub/c.txt"}},
                      AddCase{"junked paths",
                              {"sub/deep/d.txt", "a.txt"},
                              {},
                              ZE_FLAG_NO_DIRNAMES,
                              6,
                              {"d.txt", "a.txt"}},
                      AddCase{"empty folder", {"emptydir"}, {}, 0, 6, {"emptydir/"}}),
    [](const auto& info) {
        std::string s = info.param.title;
        std::replace_if(
            s.begin(), s.end(), [](char ch) { return !isalnum(uint8_t(ch)); }, '_');
        return s;
    });

TEST(ZEngineAddOptions, StoreSuffixesAreNotCompressed) {
    TempDir t;
    writeFile(t.path / "src/x.gif", pseudoText(20000, 1));
    writeFile(t.path / "src/x.txt", pseudoText(20000, 1));
    Harness h = adding(t, "s.zip", {"*"});
    h.storeSuffixes = ".gif:.zip:";
    ASSERT_EQ(h.add(), 2);
    const std::string m = pythonOn(h.archive,
                                   "[print(i.filename, i.compress_type) for i in "
                                   "zipfile.ZipFile(sys.argv[1]).infolist()]");
    EXPECT_NE(m.find("x.gif 0"), std::string::npos) << m;
    EXPECT_NE(m.find("x.txt 8"), std::string::npos) << m;
}

TEST(ZEngineAddOptions, EncryptedArchiveOpensWithThePasswordOnly) {
    TempDir t;
    writeFile(t.path / "src/secret.txt", pseudoText(30000, 9));
    writeFile(t.path / "src/tiny", "x");
    // A wrong password passes the traditional encryption's check byte in one archive of
    // 256 (its header is random): use one where "bad" fails the check for secret.txt, as
    // unzip confirms, so that it is asked again.
    Harness h = adding(t, "e.zip", {"*"});
    h.password = "Geheim 1";
    for (int i = 0; i < 20; ++i) {
        std::filesystem::remove(h.archive);
        ASSERT_EQ(h.add(ZE_FLAG_ENCRYPT), 2);
        if (sh("unzip -tq -P bad '" + h.archive +
               "' secret.txt 2>&1 | grep -q 'incorrect password'") == 0) {
            break;
        }
    }
    checkWithPeers(h.archive, "Geheim 1");
    EXPECT_NE(sh("unzip -t -P wrong '" + h.archive + "'"), 0);
    Harness x = extractingTo(h.archive, t / "x");
    x.passwordTries = 2;
    x.passwordAnswers = {"bad", "Geheim 1"};
    EXPECT_EQ(x.extract(), 2);
    EXPECT_EQ(x.passwordPrompts.size(), 2u);  // the second answer is remembered for "tiny"
    EXPECT_EQ(readFile(t.path / "x/secret.txt"), readFile(t.path / "src/secret.txt"));
}

TEST(ZEngineAddOptions, Utf8NamesFollowTheWriteEncoding) {
    struct Case {
        int writeEncoding;
        const char* comment;
        bool utf8Flag;
    };
    for (Case c :
         {Case{3, "", true}, Case{0, "", false}, Case{4, "", false}, Case{0, "Grüße", true}}) {
        TempDir t;
        writeFile(t.path / "src/Ärger ü.txt", "inhalt");
        Harness h = adding(t, "u.zip", {"*"});
        h.writeEncoding = c.writeEncoding;
        std::string cm = c.comment;
        if (!cm.empty())
            h.fileComment = [cm](const std::string&) { return cm; };
        ASSERT_EQ(h.add(), 1);
        checkWithPeers(h.archive);
        EXPECT_EQ(pythonOn(h.archive,
                           "print(zipfile.ZipFile(sys.argv[1]).infolist()[0].flag_bits "
                           "& 0x800)"),
                  c.utf8Flag ? "2048\n" : "0\n")
            << c.writeEncoding;
        // unzip reads the Unicode path record; our extraction must give the UTF-8 name back.
        Harness x = extractingTo(h.archive, t / "x");
        EXPECT_EQ(x.extract(), 1);
        EXPECT_EQ(readFile(t.path / "x/Ärger ü.txt"), "inhalt") << c.writeEncoding;
        EXPECT_EQ(sh("cd '" + (t / "") +
                     "' && mkdir u && cd u && unzip -q ../u.zip && test -f 'Ärger ü.txt'"),
                  0);
    }
}

TEST(ZEngineAddOptions, UnixPermissionsAndTimesAreStored) {
    TempDir t;
    writeFile(t.path / "src/run.sh", "#!/bin/sh\n");
    chmod((t / "src/run.sh").c_str(), 0751);
    fs::last_write_time(t.path / "src/run.sh",
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    Harness h = adding(t, "p.zip", {"run.sh"});
    ASSERT_EQ(h.add(), 1);
    EXPECT_EQ(pythonOn(h.archive,
                       "i=zipfile.ZipFile(sys.argv[1]).infolist()[0]; "
                       "print(i.create_system, oct(i.external_attr>>16), b'UT' in i.extra)"),
              "3 0o100751 True\n");
    Harness x = extractingTo(h.archive, t / "x");
    ASSERT_EQ(x.extract(), 1);
    struct stat st {};
    ASSERT_EQ(stat((t / "x/run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0751u);
    EXPECT_EQ(mtimeSeconds(t.path / "x/run.sh"), mtimeSeconds(t.path / "src/run.sh"));
}

TEST(ZEngineAddOptions, CallbacksNameCommentLevelAndExtra) {
    TempDir t;
    writeFile(t.path / "src/a.txt", pseudoText(10000, 3));
    writeFile(t.path / "src/b.txt", pseudoText(10000, 4));
    Harness h = adding(t, "c.zip", {"*.txt"});
    h.addName = [](const std::string& n) {
        return n == "a.txt" ? std::string("renamed\\A.txt") : n;
    };
    h.fileComment = [](const std::string& n) { return "about " + n; };
    h.levelFor = [](const std::string& n) { return n == "b.txt" ? 0 : -1; };
    h.extraData = std::string("\x34\x12\x03\x00xyz", 7);
    ASSERT_EQ(h.add(), 2);
    checkWithPeers(h.archive);
    EXPECT_EQ(pythonOn(h.archive,
                       "[print(i.filename, i.compress_type, i.comment.decode(), "
                       "b'\\x34\\x12\\x03\\x00xyz' in i.extra) for i in "
                       "zipfile.ZipFile(sys.argv[1]).infolist()]"),
              "renamed/A.txt 8 about renamed/A.txt True\nb.txt 0 about b.txt True\n");
}

TEST(ZEngineAddOptions, AddingKeepsEntriesFreshenUpdateAndMove) {
    TempDir t;
    writeFile(t.path / "src/old.txt", "old");
    writeFile(t.path / "src/keep.txt", "keep");
    Harness h = adding(t, "f.zip", {"old.txt", "keep.txt"});
    ASSERT_EQ(h.add(), 2);
    auto past = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(t.path / "src/keep.txt", past);
    // Freshen: only entries already in the archive whose file is newer.
    writeFile(t.path / "src/old.txt", "newer content");
    fs::last_write_time(t.path / "src/old.txt",
                        fs::file_time_type::clock::now() + std::chrono::hours(1));
    writeFile(t.path / "src/new.txt", "new");
    Harness f = h;
    f.includes = {"*.*"};
    EXPECT_EQ(f.add(ZE_FLAG_FRESHEN), 1);
    EXPECT_EQ(listNames(h.archive), (std::set<std::string>{"old.txt", "keep.txt"}));
    // Update: new files too.
    Harness u = h;
    u.includes = {"*.txt"};
    EXPECT_EQ(u.add(ZE_FLAG_UPDATE), 1);
    EXPECT_EQ(listNames(h.archive), (std::set<std::string>{"old.txt", "keep.txt", "new.txt"}));
    checkWithPeers(h.archive);
    EXPECT_EQ(sh("unzip -p '" + h.archive + "' old.txt | grep -q 'newer content'"), 0);
    // The archive inside the folder being added is not added to itself.
    fs::copy_file(h.archive, t.path / "src/self.zip");
    Harness self = h;
    self.archive = t / "src/self.zip";
    self.includes = {"*.zip"};
    EXPECT_EQ(self.add(), 0);
    EXPECT_EQ(listNames(self.archive).count("self.zip"), 0u);
    fs::remove(t.path / "src/self.zip");
    // Move: the file is deleted once the archive is in place.
    writeFile(t.path / "src/moved.txt", "bye");
    Harness m = h;
    m.includes = {"moved.txt"};
    EXPECT_EQ(m.add(ZE_FLAG_MOVE), 1);
    EXPECT_FALSE(fs::exists(t.path / "src/moved.txt"));
    EXPECT_EQ(listNames(h.archive).size(), 4u);
}

TEST(ZEngineAddOptions, BytesInFrontOfTheArchiveStayInFront) {
    // A self-extractor is a program followed by an archive: adding to it must
    // keep the program, with the offsets counted from the start of the file.
    struct Case {
        const char* name;
        const char* make;  // shell, in the folder: makes a.zip from prefix.bin and old.zip
        size_t oldEntries;
    };
    const Case cases[] = {
        {"empty archive behind a prefix",
         "cat prefix.bin > a.zip && printf 'PK\\005\\006' >> a.zip && head -c 18 /dev/zero >> "
         "a.zip",
         0},
        {"offsets from the file start", "cat prefix.bin old.zip > a.zip && zip -qA a.zip", 1},
        {"offsets from the archive start", "cat prefix.bin old.zip > a.zip", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        const std::string prefix = "MZ" + randomBytes(5000, 7);
        writeFile(t.path / "prefix.bin", prefix);
        writeFile(t.path / "src/old.txt", "old");
        writeFile(t.path / "src/new.txt", pseudoText(20000, 3));
        Harness old;
        old.archive = t / "old.zip";
        old.root = t / "src";
        old.includes = {"old.txt"};
        ASSERT_EQ(old.add(), 1);
        ASSERT_EQ(sh("cd '" + t.path.string() + "' && (" + c.make + ")"), 0);
        Harness h;
        h.archive = t / "a.zip";
        h.root = t / "src";
        h.includes = {"new.txt"};
        ASSERT_EQ(h.add(), 1);
        EXPECT_EQ(readFile(h.archive).substr(0, prefix.size()), prefix);
        EXPECT_EQ(listNames(h.archive).size(), c.oldEntries + 1);
        // unzip reports offsets that do not count from the file start.
        EXPECT_EQ(sh("unzip -tq '" + h.archive + "'"), 0);
        EXPECT_EQ(sh("7zz t -tzip '" + h.archive + "'"), 0);
    }
}

TEST(ZEngineAddOptions, StreamsOfTheComponentAreAdded) {
    TempDir t;
    MemStream s;
    std::string content = pseudoText(5000, 7);
    s.data.assign(content.begin(), content.end());
    Harness h;
    h.archive = t / "st.zip";
    h.includes = {"0:mem/data.txt"};
    h.streams[0] = &s;
    ASSERT_EQ(h.add(), 1);
    EXPECT_EQ(listNames(h.archive), (std::set<std::string>{"mem/data.txt"}));
    std::string out = t / "o.txt";
    sh("unzip -p '" + h.archive + "' mem/data.txt > '" + out + "'");
    EXPECT_EQ(readFile(out), content);
}

TEST(ZEngineAddOptions, VerboseJobsReportEveryFile) {
    TempDir t;
    writeFile(t.path / "src/a.txt", pseudoText(4000, 1));
    writeFile(t.path / "src/b.txt", "");
    Harness h = adding(t, "v.zip", {"*"});
    h.verbosity = 1;
    ASSERT_EQ(h.add(), 2);
    ASSERT_EQ(h.messages.size(), 2u);
    EXPECT_EQ(h.messages[0].first, 0);
    EXPECT_EQ(h.messages[0].second.rfind("added: a.txt (deflated ", 0), 0u) << h.messages[0].second;
    EXPECT_EQ(h.messages[1].second, "added: b.txt (stored 0%)");
    Harness q = h;
    q.messages.clear();
    q.verbosity = 0;
    EXPECT_EQ(q.test(), 2);
    EXPECT_TRUE(q.messages.empty());
    q.verbosity = -1;
    EXPECT_EQ(q.test(), 2);
    EXPECT_EQ(q.messages.size(), 2u);
}

TEST(ZEngineAddOptions, MissingSpecificationIsReportedAsSkipped) {
    TempDir t;
    writeFile(t.path / "src/a.txt", "a");
    Harness h = adding(t, "m.zip", {"a.txt", "nope.txt"});
    ASSERT_EQ(h.add(), 1);
    ASSERT_EQ(h.skips.size(), 1u);
    EXPECT_EQ(h.skips[0].name, "nope.txt");
    EXPECT_EQ(h.skips[0].type, ZE_SKIP_NOT_FOUND);
}

TEST(ZEngineAddOptions, CancelLeavesTheOldArchiveAsItWas) {
    TempDir t;
    for (int i = 0; i < 20; ++i)
        writeFile(t.path / ("src/f" + std::to_string(i)), pseudoText(100000, unsigned(i)));
    Harness h = adding(t, "c.zip", {"f1", "f2"});
    ASSERT_EQ(h.add(), 2);
    std::string before = readFile(h.archive);
    // Cancel through ZE_Abort from a progress report, and through a callback's cancel answer.
    for (int way = 0; way < 2; ++way) {
        Harness c = h;
        c.includes = {"*"};
        if (way == 0) {
            c.abortOnFirstProgress = true;
        } else {
            c.skipAnswer = 1;
            c.includes = {"nope", "*"};
        }
        int32_t r = c.add();
        EXPECT_LT(r, 0) << way;
        EXPECT_EQ(readFile(h.archive), before) << way;
        for (auto& e : fs::directory_iterator(t.path))
            EXPECT_EQ(e.path().filename().string().find(".ztmp"), std::string::npos) << e.path();
    }
}

// Files for an add: written under `dir`/src; their names, in order.
struct SourceFile {
    const char* name;
    std::string data;
};
std::vector<std::string> writeSources(const fs::path& dir, const std::vector<SourceFile>& files) {
    std::vector<std::string> names;
    for (const SourceFile& f : files) {
        writeFile(dir / "src" / f.name, f.data);
        names.push_back(f.name);
    }
    return names;
}

// Files above 4 MiB are compressed in 4 MiB chunks on several threads and joined into one
// deflate stream: sizes around the chunk boundaries, data that does not compress, long runs,
// and the encrypted form must all be one stream every peer decodes.
TEST(ZEngineAddBigFile, ChunkedStreamsAreOneValidDeflateStream) {
    const size_t kChunk = 4u << 20;
    const std::vector<SourceFile> cases = {
        {"two-chunks-and-a-byte.txt", pseudoText(2 * kChunk + 1, 11)},
        {"three-whole-chunks.txt", pseudoText(3 * kChunk, 12)},
        {"one-byte-short.txt", pseudoText(3 * kChunk - 1, 13)},
        {"noise.bin", randomBytes(2 * kChunk + 4097, 14)},
        {"zeros.bin", std::string(2 * kChunk + 100, '\0')},
    };
    for (const std::string password : {"", "geheim"}) {
        TempDir t;
        const std::vector<std::string> names = writeSources(t.path, cases);
        Harness h = adding(t, "big.zip", names);
        h.password = password;
        ASSERT_EQ(h.add(password.empty() ? 0 : ZE_FLAG_ENCRYPT), int32_t(cases.size()));
        checkWithPeers(h.archive, password);
        if (password.empty()) {
            // Text compresses as well as one stream would (within a few percent), the noise
            // is not inflated by more than the block overhead.
            const std::string sizes =
                pythonOn(h.archive,
                         "[print(i.filename, i.compress_size, i.file_size) for i in "
                         "zipfile.ZipFile(sys.argv[1]).infolist()]");
            std::istringstream in(sizes);
            std::string name;
            uint64_t csize = 0, usize = 0;
            while (in >> name >> csize >> usize) {
                if (name == "noise.bin")
                    EXPECT_LT(csize, usize + usize / 1000) << name;
                else
                    EXPECT_LT(csize, usize / 3) << name;
            }
        }
        Harness x = extractingTo(h.archive, t / "x");
        x.password = password;
        EXPECT_EQ(x.extract(), int32_t(cases.size()));
        for (const SourceFile& c : cases)
            EXPECT_TRUE(readFile(fs::path(x.base) / c.name) == c.data) << c.name;
    }
    // The other levels make other block shapes (fewer, longer blocks at 1; lazier matching
    // at 9) that the chunks' final blocks are found in.
    for (int level : {1, 4, 9}) {
        TempDir t;
        writeFile(t.path / "src/mixed.bin",
                  pseudoText(kChunk + 5000, 15) + randomBytes(kChunk / 2, 16) +
                      std::string(kChunk / 2, 'z') + pseudoText(kChunk, 17));
        Harness h = adding(t, "levels.zip", {"mixed.bin"});
        h.level = level;
        ASSERT_EQ(h.add(), 1) << level;
        checkWithPeers(h.archive, "");
        Harness x = extractingTo(h.archive, t / "x");
        EXPECT_EQ(x.extract(), 1) << level;
        EXPECT_TRUE(readFile(fs::path(x.base) / "mixed.bin") == readFile(t.path / "src/mixed.bin"))
            << level;
    }
}

// Cancelled while a large file is in flight (chunks compressed ahead, workers waiting for the
// writer): the job ends, its threads are joined, and the old archive stays as it was.
// Large buffers are kept and handed out again within a job, cut down or grown to the next
// size asked for: a file after a larger one (stale bytes past its end), one after a smaller
// one (kept bytes plus fresh pages), the streamed path's chunks and the decoded-ahead path
// between them must all come out intact, stored, compressed and encrypted.
TEST(ZEngineAddBigFile, ReusedBuffersKeepEveryFileIntact) {
    const std::vector<SourceFile> cases = {
        {"1-noise-6m.bin", randomBytes((6u << 20) + 17, 21)},
        {"2-text-3m.txt", pseudoText(3u << 20, 22)},
        {"3-noise-1m.bin", randomBytes((1u << 20) + 1, 23)},
        {"4-zeros.bin", std::string((4u << 20) - 4095, '\0')},
        {"5-noise-3m.bin", randomBytes((3u << 20) + 4097, 24)},
        {"6-text-9m.txt", pseudoText(9u << 20, 25)},
        {"7-noise-2m.bin", randomBytes(2u << 20, 26)},
    };
    for (const auto& [level, password] :
         std::vector<std::pair<int, std::string>>{{0, ""}, {6, ""}, {6, "geheim"}}) {
        TempDir t;
        const std::vector<std::string> names = writeSources(t.path, cases);
        Harness h = adding(t, "r.zip", names);
        h.level = level;
        h.password = password;
        ASSERT_EQ(h.add(password.empty() ? 0 : ZE_FLAG_ENCRYPT), int32_t(cases.size()));
        checkWithPeers(h.archive, password);
        Harness x = extractingTo(h.archive, t / "out");
        x.password = password;
        EXPECT_EQ(x.extract(), int32_t(cases.size()));
        for (const SourceFile& c : cases)
            EXPECT_TRUE(readFile(t.path / "out" / c.name) == c.data)
                << c.name << " level " << level << (password.empty() ? "" : " encrypted");
    }
}

TEST(ZEngineAddBigFile, CancelInTheMiddleOfALargeFileKeepsTheArchive) {
    TempDir t;
    writeFile(t.path / "src/small.txt", pseudoText(1000, 1));
    writeFile(t.path / "src/big.txt", pseudoText(40u << 20, 2));
    Harness h = adding(t, "c.zip", {"small.txt"});
    ASSERT_EQ(h.add(), 1);
    const std::string before = readFile(h.archive);
    Harness c = h;
    c.includes = {"big.txt"};
    c.abortOnFirstProgress = true;
    EXPECT_LT(c.add(), 0);
    EXPECT_LT(c.progressBytes, int64_t(40u << 20));
    EXPECT_TRUE(readFile(h.archive) == before);
    for (auto& e : fs::directory_iterator(t.path))
        EXPECT_EQ(e.path().filename().string().find(".ztmp"), std::string::npos) << e.path();
    EXPECT_EQ(sh("unzip -tq '" + h.archive + "'"), 0);
}

// A write that fails in the middle of a large file (the file size limit of the process
// stands for a full disk): the job ends with the write error instead of waiting for chunks
// nobody takes, and the old archive stays as it was.
TEST(ZEngineAddBigFile, WriteFailureInTheMiddleEndsTheJob) {
    TempDir t;
    writeFile(t.path / "src/small.txt", pseudoText(1000, 1));
    writeFile(t.path / "src/noise.bin", randomBytes(24u << 20, 3));
    Harness h = adding(t, "w.zip", {"small.txt"});
    ASSERT_EQ(h.add(), 1);
    const std::string before = readFile(h.archive);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit low = old;
    low.rlim_cur = 6u << 20;
    auto oldSignal = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    Harness w = h;
    w.includes = {"noise.bin"};
    const int32_t r = w.add();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(r, -ZE_ERR_WRITE);
    EXPECT_TRUE(readFile(h.archive) == before);
}

TEST(ZEngineAddOptions, ManyEntriesGetZip64EndRecords) {
    TempDir t;
    const int kCount = 65600;
    fs::create_directories(t.path / "src");
    for (int i = 0; i < kCount; ++i) {
        std::ofstream(t.path / "src" / std::to_string(i)) << "";
    }
    Harness h = adding(t, "many.zip", {"*"});
    ASSERT_EQ(h.add(), kCount);
    EXPECT_EQ(pythonOn(h.archive, "print(len(zipfile.ZipFile(sys.argv[1]).infolist()))"),
              std::to_string(kCount) + "\n");
    EXPECT_EQ(sh("unzip -tq '" + h.archive + "'"), 0);
    EXPECT_EQ(sh("7zz t '" + h.archive + "'"), 0);
    Harness x;
    x.archive = h.archive;
    EXPECT_EQ(x.test(), kCount);
}

TEST(ZEngineSlow, EntryOver4GiBUsesZip64) {
    if (!getenv("TARVIK_SLOW_TESTS"))
        GTEST_SKIP() << "set TARVIK_SLOW_TESTS to run";
    TempDir t;
    fs::create_directories(t.path / "src");
    std::string big = t / "src/big.bin";
    ASSERT_EQ(truncate(std::string(big).c_str(), 0), -1);  // does not exist yet
    { std::ofstream(big) << "start"; }
    ASSERT_EQ(truncate(big.c_str(), (int64_t(1) << 32) + 1000), 0);
    Harness h = adding(t, "big.zip", {"big.bin"});
    h.level = 1;
    ASSERT_EQ(h.add(), 1);
    EXPECT_EQ(sh("unzip -tq '" + h.archive + "'"), 0);
    // Python reads the Zip64 sizes (unzip and our test above and below read the data).
    EXPECT_EQ(
        sh("python3 -c \"import sys, zipfile; i = zipfile.ZipFile(sys.argv[1]).infolist()[0]; "
           "sys.exit(i.file_size != (1 << 32) + 1000 or i.CRC == 0)\" '" +
           h.archive + "'"),
        0);
    Harness x;
    x.archive = h.archive;
    EXPECT_EQ(x.test(), 1);
}

}  // namespace

namespace {

// "name" for every entry, "name -> target" for symbolic links (Unix mode), sorted.
std::set<std::string> listingWithLinks(const std::string& zip) {
    return pythonLines(zip,
                       "z=zipfile.ZipFile(sys.argv[1]); [print(i.filename + (' -> ' + "
                       "z.read(i).decode() if i.external_attr >> 28 == 0xA else '')) for "
                       "i in z.infolist()]");
}

// What is left below `root`: files by name, links as "name -> target", sorted.
std::set<std::string> treeWithLinks(const fs::path& root) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (it->is_symlink())
            out.insert(rel + " -> " + fs::read_symlink(it->path()).string());
        else if (it->is_regular_file())
            out.insert(rel);
    }
    return out;
}

}  // namespace

TEST(ZEngineAddLinks, EveryFileUnderItsOwnPathLinksAsLinks) {
    struct Case {
        const char* name;
        uint32_t flags;
        std::set<std::string> stored, left;
        size_t loops;  // folders met again inside themselves, reported as skipped
    };
    const std::set<std::string> tree = {"sl/flink -> real/f.txt", "sl/gone -> missing",
                                        "sl/linkdir -> real",     "sl/outlink -> ../outside",
                                        "sl/real/f.txt",          "sl/real/sub/g.txt",
                                        "sl/real/sub/up -> ..",   "outside/o.txt"};
    const Case cases[] = {
        {"links stored as links",
         0,
         {"sl/flink -> real/f.txt", "sl/gone -> missing", "sl/linkdir -> real",
          "sl/outlink -> ../outside", "sl/real/f.txt", "sl/real/sub/g.txt", "sl/real/sub/up -> .."},
         tree,
         0},
        {"links followed",
         ZE_FLAG_FOLLOW_LINKS,
         {"sl/flink", "sl/gone -> missing", "sl/linkdir/f.txt", "sl/linkdir/sub/g.txt",
          "sl/outlink/o.txt", "sl/real/f.txt", "sl/real/sub/g.txt"},
         tree,
         2},
        {"moved: the links go, not what they point to",
         ZE_FLAG_MOVE,
         {"sl/flink -> real/f.txt", "sl/gone -> missing", "sl/linkdir -> real",
          "sl/outlink -> ../outside", "sl/real/f.txt", "sl/real/sub/g.txt", "sl/real/sub/up -> .."},
         {"outside/o.txt"},
         0},
        {"moved, links followed: files reached through a link stay",
         ZE_FLAG_MOVE | ZE_FLAG_FOLLOW_LINKS,
         {"sl/flink", "sl/gone -> missing", "sl/linkdir/f.txt", "sl/linkdir/sub/g.txt",
          "sl/outlink/o.txt", "sl/real/f.txt", "sl/real/sub/g.txt"},
         {"outside/o.txt", "sl/linkdir -> real", "sl/outlink -> ../outside",
          "sl/real/sub/up -> .."},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        writeFile(t.path / "src/sl/real/f.txt", "f");
        writeFile(t.path / "src/sl/real/sub/g.txt", "g");
        writeFile(t.path / "src/outside/o.txt", "o");
        fs::create_symlink("real", t.path / "src/sl/linkdir");
        fs::create_symlink("real/f.txt", t.path / "src/sl/flink");
        fs::create_symlink("missing", t.path / "src/sl/gone");
        fs::create_symlink("../outside", t.path / "src/sl/outlink");
        fs::create_symlink("..", t.path / "src/sl/real/sub/up");
        ASSERT_EQ(treeWithLinks(t.path / "src"), tree);
        Harness h = adding(t, "l.zip", {"sl"});
        EXPECT_EQ(h.add(ZE_FLAG_RECURSE | ZE_FLAG_NO_EMPTY_DIRS | c.flags),
                  int32_t(c.stored.size()));
        EXPECT_EQ(listingWithLinks(h.archive), c.stored);
        EXPECT_EQ(h.skips.size(), c.loops);
        EXPECT_EQ(treeWithLinks(t.path / "src"), c.left);
        checkWithPeers(h.archive);
        // The engine's own extraction gives the links back as links.
        Harness x = extractingTo(h.archive, t / "out");
        EXPECT_EQ(x.extract(), int32_t(c.stored.size()));
        std::set<std::string> extracted = treeWithLinks(t.path / "out");
        std::set<std::string> expected;
        for (const std::string& s : c.stored)
            expected.insert(s);
        EXPECT_EQ(extracted, expected);
    }
}

TEST(ZEngineAddOptions, MoveWithUndoPutsSourcesAndTheOldArchiveInTheTrash) {
    TempDir t;
    platform_test::ScopedEnv data("XDG_DATA_HOME", (t / "share").c_str());
    const fs::path files = t.path / "share/Trash/files";
    writeFile(t.path / "src/first.txt", "first");
    Harness h = adding(t, "u.zip", {"first.txt"});
    ASSERT_EQ(h.add(), 1);
    const std::string old = readFile(h.archive);
    // Without undo the sources and the old archive are gone for good.
    writeFile(t.path / "src/gone.txt", "gone");
    Harness g = h;
    g.includes = {"gone.txt"};
    ASSERT_EQ(g.add(ZE_FLAG_MOVE), 1);
    EXPECT_FALSE(fs::exists(t.path / "src/gone.txt"));
    EXPECT_FALSE(fs::exists(files));
    // With undo they wait in the trash.
    const std::string before = readFile(h.archive);
    writeFile(t.path / "src/m1.txt", "one");
    writeFile(t.path / "src/d/m2.txt", "two");
    Harness m = h;
    m.includes = {"m1.txt", "d"};
    ASSERT_EQ(m.add(ZE_FLAG_MOVE | ZE_FLAG_UNDO | ZE_FLAG_RECURSE), 3);  // with the folder
    EXPECT_EQ(listNames(h.archive),
              (std::set<std::string>{"first.txt", "gone.txt", "m1.txt", "d/", "d/m2.txt"}));
    EXPECT_FALSE(fs::exists(t.path / "src/m1.txt"));
    EXPECT_FALSE(fs::exists(t.path / "src/d"));
    EXPECT_EQ(readFile(files / "m1.txt"), "one");
    EXPECT_EQ(readFile(files / "m2.txt"), "two");
    EXPECT_TRUE(fs::is_directory(files / "d"));
    EXPECT_EQ(readFile(files / "u.zip"), before);
    EXPECT_NE(before, old);
    EXPECT_TRUE(fs::exists(t.path / "share/Trash/info/m1.txt.trashinfo"));
}

TEST(ZEngineAddOptions, TheNewArchiveIsWrittenInTheTemporaryFolder) {
    TempDir t;
    writeFile(t.path / "src/a.txt", pseudoText(50000, 4));
    Harness h = adding(t, "t.zip", {"a.txt"});
    ASSERT_EQ(h.add(), 1);
    const std::string before = readFile(h.archive);
    writeFile(t.path / "src/b.txt", "b");
    // A temporary folder that does not exist: nothing can be written, nothing changes.
    Harness bad = h;
    bad.includes = {"b.txt"};
    bad.tempDir = t / "missing";
    EXPECT_EQ(bad.add(), -ZE_ERR_TEMP_FILE);
    EXPECT_EQ(readFile(h.archive), before);
    // One that does: the archive is replaced and nothing stays there or beside it.
    fs::create_directories(t.path / "tmp");
    Harness good = bad;
    good.tempDir = t / "tmp";
    EXPECT_EQ(good.add(), 1);
    EXPECT_EQ(listNames(h.archive), (std::set<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(fs::is_empty(t.path / "tmp"));
    std::set<std::string> beside;
    for (auto& e : fs::directory_iterator(t.path))
        beside.insert(e.path().filename().string());
    EXPECT_EQ(beside, (std::set<std::string>{"src", "t.zip", "tmp"}));
}
