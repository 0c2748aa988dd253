// Rewriting an archive: the comment changed in place, and the replacement of
// the old archive by the new one, which must never leave the archive's name
// without a complete archive -- checked by killing deletes at random moments.
#include "zip/ZAModOpr.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#include "platform/TempFiles.h"
#include "tests/RewriteTestSupport.h"

using namespace rewrite_test;

namespace {

// The size of the archive's comment as its end record states it.
std::string EndComment(const std::string& archive) {
    const std::string bytes = ReadFile(archive);
    const auto at = bytes.rfind(std::string("PK\x05\x06", 4));
    if (at == std::string::npos || at + 22 > bytes.size()) {
        return "<no end record>";
    }
    const std::size_t length = static_cast<unsigned char>(bytes[at + 20]) |
                               (static_cast<unsigned char>(bytes[at + 21]) << 8);
    return bytes.substr(at + 22, length);
}

// A new comment changes only the end of the archive, and the archive is
// replaced whole (never changed in place, which a kill could leave half done).
TEST(ZAModOpr, CommentChangesOnlyTheEnd) {
    struct Case {
        const char* name;
        std::string comment;
        std::string stored;
    };
    const std::string longest(65535, 'c');
    const Case cases[] = {
        {"short", "Archiv von Tarvik", "Archiv von Tarvik"},
        {"empty removes it", "", ""},
        {"65535 bytes", longest, longest},
        {"longer ones are cut", std::string(70000, 'c'), longest},
        {"UTF-8", "Grüße", "Grüße"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder dir;
        const std::string archive = dir / "a.zip";
        MakeArchive(dir, archive, 2, 1);
        ASSERT_EQ(
            Shell("echo 'an old comment that is rather long' | zip -q -z " + Quote(archive)).status,
            0);
        const std::string before = ReadFile(archive);
        const std::size_t end = before.rfind(std::string("PK\x05\x06", 4));
        const ino_t inode = Inode(archive);

        Component comp(archive);
        ASSERT_TRUE(comp.zip.ArchiveLoaded());
        comp.zip.SetZipComment(c.comment);
        EXPECT_EQ(comp.zip.ErrCode(), 0);
        EXPECT_EQ(EndComment(archive), c.stored);
        const std::string after = ReadFile(archive);
        EXPECT_EQ(after.size(), end + 22 + c.stored.size());
        EXPECT_EQ(after.compare(0, end + 20, before, 0, end + 20), 0);  // only the end changed
        EXPECT_NE(Inode(archive), inode);
        EXPECT_TRUE(UnzipTestClean(archive));
        EXPECT_EQ(comp.zip.ZipComment(), c.stored);  // reloaded from the file
    }
}

TEST(ZAModOpr, CommentWithoutArchiveOnlyStoresTheText) {
    ScratchFolder dir;
    Component comp(dir / "new.zip");
    comp.zip.SetZipComment("later");
    EXPECT_EQ(comp.zip.ZipComment(), "later");
    EXPECT_FALSE(std::filesystem::exists(dir / "new.zip"));
}

TEST(ZAModOpr, CommentOfAnInvalidArchiveFails) {
    ScratchFolder dir;
    const std::string name = dir / "broken.zip";
    WriteFile(name, std::string(100, 'x'));
    Component comp(name);
    comp.zip.SetZipComment("x");
    EXPECT_EQ(comp.zip.ErrCode(), 202);
    EXPECT_EQ(ReadFile(name), std::string(100, 'x'));
}

// Runs a delete of `spec` from `archive` in a child process; returns its pid.
pid_t StartDelete(const std::string& archive, const std::string& spec, const std::string& temp,
                  TZADeleteOpts how) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        Component comp(archive);
        comp.zip.SetTempDir(temp);
        comp.zip.SetHowToDelete(how);
        comp.zip.SetFSpecArgs({spec});
        comp.zip.Delete();
        ::_exit(comp.zip.ErrCode() == 0 ? 0 : 1);
    }
    return pid;
}

// The names in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Microseconds since `start`.
long MicrosecondsSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

struct KillRuns {
    int killed = 0;
    int finished = 0;
};

// Runs `start(2)`, `start(3)`, ... (each returns a child's pid) and kills each run at a
// random moment within a little more than `took` microseconds (the time one run takes), so
// that most kills land during the work and some runs finish; a run that finishes before its
// kill narrows the window (the machine may be faster now than at the first run). `check`
// runs after every run. Until `wantKilled` kills landed and at least one run finished, at
// most `maxRuns` runs, or until a check fails fatally.
KillRuns KillAtRandomMoments(long took, int wantKilled, int maxRuns, unsigned seed,
                             const std::function<pid_t(int)>& start,
                             const std::function<void()>& check) {
    std::mt19937 random(seed);
    long window = took * 3 / 2;
    KillRuns runs;
    for (int i = 2; (runs.killed < wantKilled || runs.finished == 0) && i < maxRuns + 2; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const pid_t pid = start(i);
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<long>(0, window)(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFSIGNALED(status)) {
            ++runs.killed;
        } else {
            ++runs.finished;
            window = window * 3 / 4;
        }
        check();
        if (::testing::Test::HasFatalFailure()) {
            break;
        }
    }
    return runs;
}

// The temporary folder on the archive's file system (the new archive is
// renamed into place) or, when /dev/shm is another one, there (the new
// archive is copied next to the old one first).
class ZAModOprKill : public ::testing::TestWithParam<bool> {};

TEST_P(ZAModOprKill, KilledDeleteLeavesACompleteArchive) {
    ScratchFolder dir;
    ScopedEnv data("XDG_DATA_HOME", (dir / "share").c_str());
    const std::string folder = dir / "archive";
    std::string temp = dir / "temp/";
    // Removes the temporary folder on the other file system, also after a failure.
    struct RemoveAtEnd {
        std::string path;
        ~RemoveAtEnd() {
            if (!path.empty()) {
                platform::RemoveTree(path);
            }
        }
    } otherFs;
    if (GetParam()) {
        struct stat a {};
        struct stat b {};
        if (::stat("/dev/shm", &a) != 0 || ::stat(dir.path().c_str(), &b) != 0 ||
            a.st_dev == b.st_dev || ::access("/dev/shm", W_OK) != 0) {
            GTEST_SKIP() << "no second file system for the temporary folder";
        }
        temp = platform::CreateTempFolder("/dev/shm", "tarvik-test-");
        otherFs.path = temp;
    }
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(temp);
    const std::string archive = folder + "/big.zip";
    constexpr int kEntries = 64;
    MakeArchive(dir, archive, 0, kEntries, 256 * 1024, "-q -X -0");  // 16 MiB, stored
    ASSERT_EQ(UnzipNames(archive).size(), static_cast<std::size_t>(kEntries));

    // How long one delete takes, to spread the kills over it.
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(StartDelete(archive, "b1.bin", temp, htdFinal), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const long took = MicrosecondsSince(start);
    std::size_t expected = kEntries - 1;
    ASSERT_EQ(UnzipNames(archive).size(), expected);

    const KillRuns runs = KillAtRandomMoments(
        took, 12, 60, 20261207,
        [&](int i) {
            return StartDelete(archive, "b" + std::to_string(i) + ".bin", temp,
                               i % 2 == 0 ? htdFinal : htdAllowUndo);
        },
        [&] {
            // The name holds the old archive or the new one, complete.
            ASSERT_TRUE(UnzipTestClean(archive));
            const std::size_t now = UnzipNames(archive).size();
            ASSERT_TRUE(now == expected || now == expected - 1) << now;
            expected = now;
            // Nothing is left beside it once the component has opened it (a kill between
            // naming the new file and the rename leaves a hidden file there until then).
            ASSERT_TRUE(Component(archive).zip.ArchiveLoaded());
            ASSERT_EQ(FilesIn(folder), std::vector<std::string>{"big.zip"});
        });
    // The kills did land during the work, and some runs did finish.
    EXPECT_GE(runs.killed, 12) << "one delete took " << took << " us";
    EXPECT_GT(runs.finished, 0);
    EXPECT_LT(expected, static_cast<std::size_t>(kEntries - 1));
}

INSTANTIATE_TEST_SUITE_P(TemporaryFolder, ZAModOprKill, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? "OnAnotherFileSystem" : "OnTheSameFileSystem";
                         });

// A set of parts (name.z01, ..., name.zip) made from a fresh archive.
std::vector<std::string> MakeSet(const ScratchFolder& dir, const std::string& set, int binaries) {
    const std::string whole = dir / "whole.zip";
    MakeArchive(dir, whole, 1, binaries, 100000);
    Component comp(whole);
    comp.zip.SetMaxVolumeSize(250 * 1024);
    comp.zip.SetSpanOptions(TZASpanOpts{spCompatName});
    EXPECT_EQ(comp.zip.Span(set), 0);
    return UnzipNames(whole);
}

// The set joined by Info-ZIP passes unzip -t: its entry names, else nothing.
std::vector<std::string> JoinedNames(const std::string& set) {
    const std::string joined = set + ".joined.zip";
    std::filesystem::remove(joined);
    if (!Shell("zip -q -s 0 " + Quote(set) + " --out " + Quote(joined)) ||
        !UnzipTestClean(joined)) {
        return {};
    }
    std::vector<std::string> names = UnzipNames(joined);
    std::filesystem::remove(joined);
    return names;
}

std::vector<std::string> Without(std::vector<std::string> names, const std::string& name) {
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
    return names;
}

TEST(ZAModOprSet, DeleteAndCommentReplaceTheParts) {
    ScratchFolder dir;
    ScratchFolder out;
    const std::string set = out / "s.zip";
    std::vector<std::string> names = MakeSet(dir, set, 6);
    ASSERT_TRUE(std::filesystem::exists(out / "s.z02"));

    // Two entries fewer: one part fewer, the left-over part is removed.
    Component comp(set);
    comp.zip.SetFSpecArgs({"b5.bin", "b6.bin"});
    comp.zip.Delete();
    EXPECT_EQ(comp.zip.ErrCode(), 0);
    names = Without(Without(names, "b5.bin"), "b6.bin");
    EXPECT_EQ(JoinedNames(set), names);
    EXPECT_TRUE(std::filesystem::exists(out / "s.z01"));
    EXPECT_FALSE(std::filesystem::exists(out / "s.z02"));
    EXPECT_EQ(comp.zip.Count(), static_cast<int>(names.size()));

    // A new comment replaces the last part whole; the others stay as they are.
    const ino_t first = Inode(out / "s.z01");
    const ino_t last = Inode(set);
    comp.zip.SetZipComment("Kommentar des Satzes");
    EXPECT_EQ(comp.zip.ErrCode(), 0);
    EXPECT_EQ(Inode(out / "s.z01"), first);
    EXPECT_NE(Inode(set), last);
    EXPECT_EQ(EndComment(set), "Kommentar des Satzes");
    EXPECT_EQ(JoinedNames(set), names);
}

TEST(ZAModOprSet, KilledDeleteLeavesAWholeSet) {
    ScratchFolder dir;
    ScratchFolder out;
    ScratchFolder temp;
    const std::string set = out / "k.zip";
    std::vector<std::string> names = MakeSet(dir, set, 12);
    // The parts are renamed in at the very end of a delete, within a few
    // system calls: kills in the first half of a delete's time land while
    // the new set is being written.
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(StartDelete(set, "t1.txt", temp.path() + "/", htdFinal), &status, 0);
    const long took = MicrosecondsSince(start);
    names = Without(names, "t1.txt");
    ASSERT_EQ(JoinedNames(set), names);
    std::mt19937 random(20261208);
    int killed = 0;
    for (int i = 1; i <= 12 && names.size() > 2; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const pid_t pid =
            StartDelete(set, "b" + std::to_string(i) + ".bin", temp.path() + "/", htdFinal);
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<long>(0, took / 2)(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        killed += WIFSIGNALED(status) ? 1 : 0;
        // The next open through the component finds the old set or the new
        // one, whole.
        {
            Component open(set);
            EXPECT_TRUE(open.zip.ArchiveLoaded());
        }
        const std::vector<std::string> now = JoinedNames(set);
        const std::vector<std::string> fewer = Without(names, "b" + std::to_string(i) + ".bin");
        ASSERT_TRUE(now == names || now == fewer) << now.size();
        names = now;
    }
    EXPECT_GT(killed, 0);
}

// Runs an add of `specs` (names below `root`) to `archive` in a child process; returns its pid.
pid_t StartAdd(const std::string& archive, const std::string& root,
               const std::vector<std::string>& specs, TZADeleteOpts how) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        Component comp(archive);
        comp.zip.SetRootDir(root);
        comp.zip.SetHowToDelete(how);
        comp.zip.SetAddCompLevel(1);
        comp.zip.SetFSpecArgs(specs);
        comp.zip.Add();
        ::_exit(comp.zip.ErrCode() == 0 ? 0 : 1);
    }
    return pid;
}

TEST(ZAModOprKill, KilledAddLeavesTheOldArchiveAndNothingBesideIt) {
    ScratchFolder dir;
    ScopedEnv data("XDG_DATA_HOME", (dir / "share").c_str());
    const std::string folder = dir / "archive";
    const std::string src = dir / "add";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(src);
    const std::string archive = folder + "/big.zip";
    MakeArchive(dir, archive, 0, 32, 256 * 1024, "-q -X -0");  // 8 MiB, stored
    for (int i = 1; i <= 4; ++i) {
        Shell("head -c 1048576 /dev/urandom > " + Quote(src + "/r" + std::to_string(i) + ".rnd"));
    }
    auto add = [&](int i, TZADeleteOpts how) {
        const std::string name = "n" + std::to_string(i) + ".bin";
        WriteFile(src + "/" + name, "new file " + std::to_string(i));
        return StartAdd(archive, src + "/", {name, "*.rnd"}, how);
    };
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    ::waitpid(add(1, htdFinal), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const long took = MicrosecondsSince(start);
    std::size_t expected = 32 + 4 + 1;
    ASSERT_EQ(UnzipNames(archive).size(), expected);

    const KillRuns runs = KillAtRandomMoments(
        took, 8, 40, 20261208, [&](int i) { return add(i, i % 2 == 0 ? htdFinal : htdAllowUndo); },
        [&] {
            // The name holds the old archive or the new one, whole, and nothing is beside it
            // once the component has opened it.
            ASSERT_TRUE(UnzipTestClean(archive));
            const std::size_t now = UnzipNames(archive).size();
            ASSERT_TRUE(now == expected || now == expected + 1) << now;
            expected = now;
            ASSERT_TRUE(Component(archive).zip.ArchiveLoaded());
            ASSERT_EQ(FilesIn(folder), std::vector<std::string>{"big.zip"});
        });
    EXPECT_GE(runs.killed, 8) << "one add took " << took << " us";
    EXPECT_GT(runs.finished, 0);
}

// Every operation on an archive reached through a symbolic link changes the file the link
// points to; the link stays a link.
TEST(ZAModOpr, ArchiveReachedThroughALinkStaysALink) {
    ScratchFolder dir;
    ScopedEnv data("XDG_DATA_HOME", (dir / "share").c_str());
    std::filesystem::create_directories(dir / "store");
    const std::string real = dir / "store/real.zip";
    const std::string link = dir / "l.zip";
    MakeArchive(dir, real, 2, 1);
    std::filesystem::create_symlink("store/real.zip", link);
    WriteFile(dir / "neu.txt", "neu");
    auto isLink = [&] {
        return std::filesystem::is_symlink(link) &&
               std::filesystem::read_symlink(link) == "store/real.zip";
    };

    Component comp(link);
    comp.zip.SetRootDir(dir.path() + "/");
    comp.zip.SetFSpecArgs({"neu.txt"});
    comp.zip.Add();
    EXPECT_EQ(comp.zip.ErrCode(), 0);
    EXPECT_TRUE(isLink());
    EXPECT_EQ(UnzipNames(real),
              (std::vector<std::string>{"t1.txt", "t2.txt", "b1.bin", "neu.txt"}));

    // A delete with undo keeps the old archive's content (not the link) in the trash.
    const std::string before = ReadFile(real);
    comp.zip.SetHowToDelete(htdAllowUndo);
    comp.zip.SetFSpecArgs({"t1.txt"});
    comp.zip.Delete();
    EXPECT_EQ(comp.zip.ErrCode(), 0);
    EXPECT_TRUE(isLink());
    EXPECT_EQ(UnzipNames(real), (std::vector<std::string>{"t2.txt", "b1.bin", "neu.txt"}));
    EXPECT_EQ(ReadFile(dir / "share/Trash/files/real.zip"), before);

    comp.zip.SetZipComment("über den Link");
    EXPECT_EQ(comp.zip.ErrCode(), 0);
    EXPECT_TRUE(isLink());
    EXPECT_EQ(EndComment(real), "über den Link");
    EXPECT_TRUE(UnzipTestClean(real));
}

// Runs tarvik-cli `command` in `work` with TMPDIR `temp`, killed by strace at
// the k-th call of the system call `call`. (LeakSanitizer cannot run under a
// tracer: off for the traced run.)
auto KilledRun(const std::string& call, int k, const std::string& command, const std::string& work,
               const std::string& temp) {
    return Shell("exec 2>/dev/null; TMPDIR=" + Quote(temp) +
                     " ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e trace=" + call +
                     " -e inject=" + call + ":signal=KILL:when=" + std::to_string(k) + " " +
                     Quote(TARVIK_CLI_PATH) + " " + command,
                 work);
}

// The entry names tarvik-cli lists for `name` (in `dir`) when its test
// passes, else nothing.
std::vector<std::string> TestedNames(const std::string& dir, const std::string& name) {
    const std::string cli = Quote(TARVIK_CLI_PATH);
    if (!Shell(cli + " test " + Quote(name) + " >/dev/null 2>&1", dir)) {
        return {};
    }
    std::vector<std::string> names;
    std::istringstream lines(
        Shell(cli + " list --tsv " + Quote(name) + " 2>/dev/null", dir).output);
    for (std::string line; std::getline(lines, line);) {
        names.push_back(line.substr(0, line.find('\t')));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Kills between two renames of a set's exchange, made exact with strace's
// fault injection (SIGKILL at the k-th renameat2, for every k until a run
// finishes): each leaves a journal beside the set or nothing changed yet,
// and the next open completes the exchange. So the set read afterwards is
// the old one or the new one, whole, and neither the journal nor a staged
// or temporary file remains.
TEST(ZAModOprSet, KillAtEveryRenameOfAnExchangeLeavesAWholeSet) {
    if (!Shell("strace -f -qq -o /dev/null -e trace=renameat2 true")) {
        GTEST_SKIP() << "strace missing or not allowed to trace";
    }
    struct Case {
        const char* name;
        const char* command;  // in the folder of s.zip (a set) and w.zip (an archive)
        const char* result;   // the set read afterwards
        const char* journal;  // the journal's name
        bool joinable;        // compatible names: Info-ZIP's zip -s 0 checks it too
    };
    const Case cases[] = {
        {"delete from a set", "delete --final s.zip b1.bin", "s.zip", ".s.zip.tarvik-journal",
         true},
        {"add to a set", "add s.zip new.txt", "s.zip", ".s.zip.tarvik-journal", true},
        {"span in place", "span --volume-size 250k w.zip", "w.zip", ".w.zip.tarvik-journal", true},
        {"span into numbered parts", "span --volume-size 250k --numbered w.zip", "w.zip",
         ".w.zip.tarvik-journal", false},
        {"self-extracting set", "sfx --volume-size 250k w.zip", "w.exe", ".w.exe.tarvik-journal",
         false},
    };
    ScratchFolder dir;
    ScratchFolder original;
    MakeSet(dir, original / "s.zip", 12);
    std::filesystem::copy_file(dir / "whole.zip", original / "w.zip");
    WriteFile(original / "new.txt", "new\n");
    const std::string cli = Quote(TARVIK_CLI_PATH);
    for (const Case& c : cases) {
        // The outcome without a kill.
        ScratchFolder done;
        std::filesystem::copy(original.path(), done.path());
        ASSERT_TRUE(Shell(cli + " " + c.command, done.path())) << c.name;
        const std::vector<std::string> newNames = TestedNames(done.path(), c.result);
        const std::vector<std::string> oldNames =
            TestedNames(original.path(), std::string(c.result) == "w.exe" ? "w.zip" : c.result);
        ASSERT_FALSE(newNames.empty()) << c.name;
        int journals = 0;
        bool finished = false;
        for (int k = 1; k <= 40 && !finished; ++k) {
            SCOPED_TRACE(std::string(c.name) + ", killed at rename " + std::to_string(k));
            ScratchFolder work;
            ScratchFolder temp;
            // The next run has the killed run's temporary folder, as a user's next command does.
            ScopedEnv tmpdir("TMPDIR", temp.path().c_str());
            std::filesystem::copy(original.path(), work.path());
            const auto run = KilledRun("renameat2", k, c.command, work.path(), temp.path());
            finished = run.status == 0;
            journals += std::filesystem::exists(work / c.journal) ? 1 : 0;
            // Opened from another folder: the journal's paths hold.
            const std::vector<std::string> now = TestedNames("/", work / c.result);
            if (!finished && now.empty() && std::string(c.result) == "w.exe") {
                // Killed before the program was in place: the archive is as it was.
                EXPECT_EQ(TestedNames(work.path(), "w.zip"), oldNames);
            } else {
                EXPECT_TRUE(now == newNames || now == oldNames) << now.size();
            }
            if (c.joinable && !now.empty()) {
                EXPECT_EQ(JoinedNames(work / c.result).size(), now.size());
            }
            EXPECT_FALSE(std::filesystem::exists(work / c.journal));
            // What the exchange wrote is gone, and so is what the killed run left in its
            // temporary folder (the engine it unpacked, the copy an add to a set works on).
            for (const auto& e : std::filesystem::directory_iterator(temp.path())) {
                ADD_FAILURE() << "left behind: " << e.path();
            }
        }
        EXPECT_TRUE(finished) << c.name;
        EXPECT_GT(journals, 0) << c.name;  // some kills fell inside the exchange
    }
}

// The same for single archives and the conversions: a kill right before
// each step of the final replacement (naming the new file, exchanging it
// with the old one, removing the old one), and before every rename of a
// conversion or join, leaves under every name the old content or the new
// one, whole; the next open removes whatever the killed run left beside it.
TEST(ZAModOprKill, KillAtEveryStepOfAReplacementLeavesOldOrNew) {
    if (!Shell("strace -f -qq -o /dev/null -e trace=renameat2 true")) {
        GTEST_SKIP() << "strace missing or not allowed to trace";
    }
    struct Case {
        const char* name;
        const char* command;  // in a folder with w.zip, p.exe (a program) and s.zip (a set)
        const char* result;   // what holds the new content afterwards
        const char* source;   // what holds the old content
        bool inPlace;         // also killed at every write (an archive changed in place)
    };
    const Case cases[] = {
        {"delete", "delete --final w.zip b1.bin", "w.zip", "w.zip", false},
        {"delete with undo", "delete w.zip b2.bin", "w.zip", "w.zip", false},
        {"add", "add w.zip new.txt", "w.zip", "w.zip", false},
        {"comment", "comment w.zip Neu", "w.zip", "w.zip", true},
        {"comment of a set", "comment s.zip Neu", "s.zip", "s.zip", true},
        {"to a program", "sfx w.zip", "w.exe", "w.zip", false},
        {"from a program", "unsfx p.exe", "p.zip", "p.exe", false},
        {"join", "join s.zip j.zip", "j.zip", "s.zip", false},
    };
    // The end record's comment is exactly what follows it.
    auto wholeEnd = [](const std::string& path) {
        const std::string bytes = ReadFile(path);
        const auto at = bytes.rfind(std::string("PK\x05\x06", 4));
        return at != std::string::npos && at + 22 + EndComment(path).size() == bytes.size();
    };
    ScratchFolder dir;
    ScratchFolder original;
    ScratchFolder share;
    ScopedEnv data("XDG_DATA_HOME", share.path().c_str());
    MakeSet(dir, original / "s.zip", 8);
    std::filesystem::copy_file(dir / "whole.zip", original / "w.zip");
    WriteFile(original / "new.txt", "new\n");
    const std::string cli = Quote(TARVIK_CLI_PATH);
    ASSERT_TRUE(Shell("cp w.zip p.zip && " + cli + " sfx p.zip && rm p.zip", original.path()));
    std::vector<std::string> before;
    for (const auto& e : std::filesystem::directory_iterator(original.path())) {
        before.push_back(e.path().filename());
    }
    for (const Case& c : cases) {
        ScratchFolder done;
        std::filesystem::copy(original.path(), done.path());
        ASSERT_TRUE(Shell(cli + " " + c.command, done.path())) << c.name;
        const std::vector<std::string> newNames = TestedNames(done.path(), c.result);
        const std::vector<std::string> oldNames = TestedNames(original.path(), c.source);
        ASSERT_FALSE(newNames.empty()) << c.name;
        ASSERT_FALSE(oldNames.empty()) << c.name;
        std::vector<std::string> steps = {"linkat", "renameat2", "unlink"};
        if (c.inPlace) {
            steps.push_back("pwrite64");
        }
        for (const std::string& step : steps) {
            bool finished = false;
            for (int k = 1; k <= 30 && !finished; ++k) {
                SCOPED_TRACE(std::string(c.name) + ", killed at " + step + " " + std::to_string(k));
                ScratchFolder work;
                ScratchFolder temp;
                ScopedEnv tmpdir("TMPDIR", temp.path().c_str());
                std::filesystem::copy(original.path(), work.path());
                const auto run = KilledRun(step, k, c.command, work.path(), temp.path());
                finished = run.status == 0;
                // The next open (from another folder) finds old or new content, whole.
                const std::vector<std::string> now = TestedNames("/", work / c.result);
                if (std::string(c.result) == c.source) {
                    EXPECT_TRUE(now == newNames || now == oldNames) << now.size();
                } else if (now.empty()) {
                    EXPECT_FALSE(finished);
                    EXPECT_EQ(TestedNames("/", work / c.source), oldNames);
                } else {
                    EXPECT_EQ(now, newNames);
                }
                for (const char* name : {c.result, c.source}) {
                    if (std::filesystem::exists(work / name)) {
                        EXPECT_TRUE(wholeEnd(work / name)) << name;
                    }
                }
                // Nothing hidden is left beside the archive once it was opened, and the
                // killed run's temporary folder is empty.
                TestedNames("/", work / c.source);
                for (const auto& e : std::filesystem::directory_iterator(work.path())) {
                    const std::string name = e.path().filename();
                    if (name.front() == '.' ||
                        (std::find(before.begin(), before.end(), name) == before.end() &&
                         name != c.result)) {
                        ADD_FAILURE() << "left behind: " << name;
                    }
                }
                for (const auto& e : std::filesystem::directory_iterator(temp.path())) {
                    ADD_FAILURE() << "left behind: " << e.path();
                }
            }
            EXPECT_TRUE(finished) << c.name << ", " << step;
        }
    }
}

}  // namespace
