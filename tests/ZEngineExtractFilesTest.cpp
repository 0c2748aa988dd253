// What extraction leaves on disk: every file's bytes, mode and time in folders the job makes
// and in folders that already hold files, names met twice, names taken by a folder or a link,
// and failures that must leave an existing file whole and no partial file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <set>

#include "ZEngineHarness.h"

using namespace zetest;

namespace {

struct SourceFile {
    std::string name;
    std::string data;
    mode_t mode;
    int64_t mtime;
};

// A tree of small files in more folders than the engine keeps open at once, with mixed
// modes and times, and a few larger files (decoded on the job's thread, not ahead).
std::vector<SourceFile> sourceTree() {
    static const mode_t kModes[] = {0644, 0600, 0755, 0640, 0666, 0700, 0444};
    std::vector<SourceFile> files;
    unsigned seed = 17;
    for (int i = 0; i < 400; ++i) {
        seed = seed * 1103515245 + 12345;
        std::string name = "p" + std::to_string(i % 90) + "/q" + std::to_string(i % 3) + "/f" +
                           std::to_string(i) + ".txt";
        std::string data;
        while (data.size() < (seed >> 8) % 3000)
            data += name + " line " + std::to_string(data.size()) + "\n";
        files.push_back({name, data, kModes[i % 7], 1400000000 + int64_t(seed % 300000000)});
    }
    files.push_back({"top.bin", std::string(9u << 20, 'x') + "end", 0644, 1500000000});
    files.push_back({"p1/empty", "", 0600, 1300000000});
    return files;
}

void writeTree(const fs::path& root, const std::vector<SourceFile>& files) {
    for (const SourceFile& f : files) {
        writeFile(root / f.name, f.data);
        chmod((root / f.name).c_str(), f.mode);
        struct timespec ts[2] = {{f.mtime, 0}, {f.mtime, 0}};
        utimensat(AT_FDCWD, (root / f.name).c_str(), ts, 0);
    }
}

void expectTree(const fs::path& root, const std::vector<SourceFile>& files, const char* title) {
    for (const SourceFile& f : files) {
        struct stat st {};
        ASSERT_EQ(lstat((root / f.name).c_str(), &st), 0) << title << " " << f.name;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << title << " " << f.name;
        EXPECT_EQ(st.st_mode & 0777, f.mode) << title << " " << f.name;
        EXPECT_EQ(int64_t(st.st_mtime), f.mtime) << title << " " << f.name;
        EXPECT_TRUE(readFile(root / f.name) == f.data) << title << " " << f.name;
    }
}

// Names under `root` that are neither expected nor folders: temporary or partial files.
std::vector<std::string> strayFiles(const fs::path& root, const std::set<std::string>& expected) {
    std::vector<std::string> stray;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        if (!e.is_directory() && !expected.count(rel))
            stray.push_back(rel);
    }
    return stray;
}

// Appends entries to an archive with Python's zipfile (names may repeat).
void appendEntries(const std::string& zip,
                   const std::vector<std::tuple<std::string, std::string, int>>& entries) {
    TempDir t;
    std::string script = "import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'a')\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        auto& [name, data, mode] = entries[i];
        writeFile(t.path / std::to_string(i), data);
        script += "i=zipfile.ZipInfo('" + name + "',(2020,1,2,3,4,6))\ni.create_system=3\n" +
                  "i.external_attr=" + std::to_string(mode) + "<<16\nz.writestr(i,open('" +
                  (t / std::to_string(i)) + "','rb').read())\n";
    }
    script += "z.close()\n";
    writeFile(t.path / "mk.py", script);
    ASSERT_EQ(sh("python3 -W ignore '" + (t / "mk.py") + "' '" + zip + "'"), 0) << script;
}

}  // namespace

// The same archive extracted into an empty folder (all folders made by the job), into a
// folder that holds an unrelated file, and into one where some of the folders exist already.
TEST(ZEngineExtractFiles, BytesModesAndTimesInNewAndExistingFolders) {
    const mode_t oldMask = umask(022);
    TempDir t;
    const std::vector<SourceFile> files = sourceTree();
    writeTree(t.path / "src", files);
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -qr ../a.zip ."), 0);
    std::set<std::string> folders;  // zip stores an entry for each
    for (const SourceFile& f : files)
        for (size_t at = f.name.find('/'); at != std::string::npos; at = f.name.find('/', at + 1))
            folders.insert(f.name.substr(0, at));
    struct Case {
        const char* title;
        std::vector<std::string> before;  // files that are there first ("/" ends a folder)
    };
    for (const Case& c : {Case{"empty target", {}}, Case{"target holds a file", {"other.txt"}},
                          Case{"some folders exist", {"p3/q0/", "p4/", "p5/q2/keep.txt"}}}) {
        fs::remove_all(t.path / "x");
        fs::create_directories(t.path / "x");
        std::set<std::string> expected;
        for (const std::string& b : c.before) {
            if (b.back() == '/') {
                fs::create_directories(t.path / "x" / b);
            } else {
                writeFile(t.path / "x" / b, "already there");
                expected.insert(b);
            }
        }
        Harness h;
        h.archive = t / "a.zip";
        h.base = t / "x";
        EXPECT_EQ(h.extract(), int32_t(files.size() + folders.size())) << c.title;
        EXPECT_TRUE(h.skips.empty()) << c.title << ": " << h.skips.front().name;
        expectTree(t.path / "x", files, c.title);
        for (const SourceFile& f : files)
            expected.insert(f.name);
        EXPECT_EQ(strayFiles(t.path / "x", expected), std::vector<std::string>()) << c.title;
        for (const std::string& b : c.before) {
            if (b.back() != '/') {
                EXPECT_EQ(readFile(t.path / "x" / b), "already there") << c.title;
            }
        }
    }
    umask(oldMask);
}

// A name the job has already written (an entry met twice, a link, a folder) is looked at
// like any existing file: the overwrite decision is asked, a folder is never replaced, and a
// link is replaced as the link.
TEST(ZEngineExtractFiles, NamesTheJobWroteItselfAreCheckedAgain) {
    TempDir t;
    writeFile(t.path / "src/d/first.txt", "first");
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -qr ../n.zip d"), 0);
    const std::string zip = t / "n.zip";
    appendEntries(zip, {{"d/first.txt", "second", 0100644},
                        {"d/link", "first.txt", 0120777},
                        {"d/link", "a file now", 0100644},
                        {"d", "a file where the folder is", 0100644},
                        {"e/", "", 040755},
                        {"e", "a file where a folder entry was", 0100644}});
    struct Case {
        const char* title;
        uint32_t flags;
        const char* first;  // d/first.txt afterwards
        bool linkReplaced;  // d/link is a regular file
    };
    for (const Case& c : {Case{"no overwrite", 0, "first", false},
                          Case{"overwrite", ZE_FLAG_OVERWRITE, "second", true}}) {
        fs::remove_all(t.path / "x");
        fs::create_directories(t.path / "x");
        Harness h;
        h.archive = zip;
        h.base = t / "x";
        h.extract(ZE_FLAG_DIRNAMES | c.flags);
        EXPECT_EQ(readFile(t.path / "x/d/first.txt"), c.first) << c.title;
        EXPECT_EQ(fs::is_symlink(t.path / "x/d/link"), !c.linkReplaced) << c.title;
        if (c.linkReplaced) {
            EXPECT_EQ(readFile(t.path / "x/d/link"), "a file now") << c.title;
        }
        EXPECT_TRUE(fs::is_directory(t.path / "x/d")) << c.title;
        EXPECT_TRUE(fs::is_directory(t.path / "x/e")) << c.title;
        if (!c.flags) {
            EXPECT_EQ(h.overwriteAsked.size(), 2u) << c.title;  // d/first.txt, d/link
        }
        size_t inTheWay = 0;
        for (const Skip& s : h.skips)
            inTheWay += s.name == "d" || s.name == "e";
        EXPECT_EQ(inTheWay, 2u) << c.title;
    }
}

// Failures while an existing file is being replaced leave it as it was, and a failure on a
// new name leaves no partial file: damaged data, a CRC error, a write that fails (the file
// size limit of the process stands for a full disk), small files and large ones.
TEST(ZEngineExtractFiles, FailuresLeaveOldFilesWholeAndNoPartialFiles) {
    TempDir t;
    // Up to 8 MiB an entry is decoded ahead and written by a writer thread, above that it
    // is written while it is decoded.
    const std::string big = "BIGSTART" + std::string(6u << 20, 'b');
    const std::string huge = "HUGESTART" + std::string(9u << 20, 'h');
    const std::string small = "small new content";
    for (const char* prefix : {"", "new-"}) {
        writeFile(t.path / "src" / (std::string(prefix) + "big.txt"), big);
        writeFile(t.path / "src" / (std::string(prefix) + "huge.txt"), huge);
        writeFile(t.path / "src" / (std::string(prefix) + "small.txt"), small);
    }
    ASSERT_EQ(sh("cd '" + (t / "src") + "' && zip -q -0 ../s.zip *.txt"), 0);
    // The stored bytes of every entry damaged, so that each one fails its CRC check.
    std::string damaged = readFile(t.path / "s.zip");
    for (const std::string s : {"BIGSTART", "HUGESTART", "small new content"})
        for (size_t at = damaged.find(s); at != std::string::npos; at = damaged.find(s, at + 1))
            damaged[at + 1] = '!';
    writeFile(t.path / "crc.zip", damaged);
    struct Case {
        const char* title;
        std::string zip;
        rlim_t sizeLimit;  // 0: none
    };
    const std::set<std::string> old = {"big.txt", "huge.txt", "small.txt"};
    for (const Case& c :
         {Case{"crc error", t / "crc.zip", 0}, Case{"write fails", t / "s.zip", 1u << 20}}) {
        fs::remove_all(t.path / "x");
        for (const std::string& name : old)
            writeFile(t.path / "x" / name, "old " + name);
        Harness h;
        h.archive = c.zip;
        h.base = t / "x";
        struct rlimit before {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
        auto oldSignal = signal(SIGXFSZ, SIG_IGN);
        if (c.sizeLimit) {
            struct rlimit low = before;
            low.rlim_cur = c.sizeLimit;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
        }
        const int32_t r = h.extract(ZE_FLAG_DIRNAMES | ZE_FLAG_OVERWRITE);
        setrlimit(RLIMIT_FSIZE, &before);
        signal(SIGXFSZ, oldSignal);
        EXPECT_EQ(readFile(t.path / "x/big.txt"), "old big.txt") << c.title;
        EXPECT_EQ(readFile(t.path / "x/huge.txt"), "old huge.txt") << c.title;
        std::set<std::string> expected = old;
        if (c.sizeLimit) {
            // Only the large files exceed the limit.
            EXPECT_EQ(r, 2) << c.title;
            EXPECT_EQ(h.skips.size(), 4u) << c.title;
            EXPECT_EQ(readFile(t.path / "x/small.txt"), small) << c.title;
            EXPECT_EQ(readFile(t.path / "x/new-small.txt"), small) << c.title;
            expected.insert("new-small.txt");
        } else {
            EXPECT_EQ(r, 0) << c.title;
            EXPECT_EQ(h.crcErrors.size(), 6u) << c.title;
            EXPECT_EQ(readFile(t.path / "x/small.txt"), "old small.txt") << c.title;
        }
        EXPECT_EQ(strayFiles(t.path / "x", expected), std::vector<std::string>()) << c.title;
    }
}
