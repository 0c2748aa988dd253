// The writers' lock on an archive: held by another process it makes a second
// writer wait or fail, it dies with a killed holder, it follows a name that a
// rewrite gave a new file, and a name without a file is locked by its folder.
// Then two tarvik-cli writers at once: both changes end up in the archive.
#include "platform/ArchiveLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "RewriteTestSupport.h"

using namespace rewrite_test;
using platform::ArchiveLock;
using Result = platform::ArchiveLock::Result;

namespace {

// A child process that takes the lock of `path`, then runs `then` and sleeps
// until it is killed. The lock is held when this returns.
pid_t HoldInChild(const std::string& path, const std::function<void()>& then = {}) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ArchiveLock lock;
        const bool locked = lock.Acquire(path, false) == Result::Locked;
        const char c = locked ? '1' : '0';
        (void)!::write(ready[1], &c, 1);
        if (then) {
            then();
        }
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char c = 0;
    EXPECT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(c, '1');
    return pid;
}

// Whether another process finds the lock of `path` taken.
bool BusyForAnotherProcess(const std::string& path) {
    const pid_t probe = ::fork();
    if (probe == 0) {
        ArchiveLock other;
        ::_exit(other.Acquire(path, false) == Result::Busy ? 0 : 1);
    }
    int status = 0;
    ::waitpid(probe, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Kill(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

TEST(PlatformArchiveLock, SecondWriterWaitsOrFailsAndAKilledHolderFreesIt) {
    ScratchFolder dir;
    const std::string archive = dir / "a.zip";
    WriteFile(archive, "archive");
    const pid_t holder = HoldInChild(archive);
    ArchiveLock lock;
    EXPECT_EQ(lock.Acquire(archive, false), Result::Busy);
    // Waiting: told once at first, then asked again until it gives up.
    std::vector<bool> calls;
    EXPECT_EQ(lock.Acquire(archive, true,
                           [&calls](bool first) {
                               calls.push_back(first);
                               return calls.size() < 3;
                           }),
              Result::Busy);
    EXPECT_EQ(calls, (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(lock.Held());
    Kill(holder);
    EXPECT_EQ(lock.Acquire(archive, false), Result::Locked);
    EXPECT_TRUE(lock.Held());
    // Held here: another process is refused until it is released.
    EXPECT_TRUE(BusyForAnotherProcess(archive));
}

TEST(PlatformArchiveLock, WaiterFollowsTheNameToTheNewFile) {
    ScratchFolder dir;
    const std::string archive = dir / "a.zip";
    WriteFile(archive, "old");
    // The holder replaces the archive by rename and keeps its lock on the
    // old file, as a rewrite does until it has finished.
    const pid_t holder = HoldInChild(archive, [&] {
        WriteFile(dir / "new.tmp", "new");
        std::rename((dir / "new.tmp").c_str(), archive.c_str());
    });
    for (int i = 0; i < 200 && ReadFile(archive) != "new"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ArchiveLock lock;
    EXPECT_EQ(lock.Acquire(archive, false), Result::Locked);  // the new file is free
    lock.Release();
    Kill(holder);

    // A waiter on the old file ends up holding the new one.
    WriteFile(archive, "old again");
    const pid_t second = HoldInChild(archive, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WriteFile(dir / "new.tmp", "newer");
        std::rename((dir / "new.tmp").c_str(), archive.c_str());
        ::_exit(0);  // releases the old file's lock
    });
    bool waited = false;
    EXPECT_EQ(lock.Acquire(archive, true,
                           [&waited](bool) {
                               waited = true;
                               return true;
                           }),
              Result::Locked);
    ::waitpid(second, nullptr, 0);
    EXPECT_TRUE(waited);
    EXPECT_EQ(ReadFile(archive), "newer");
    EXPECT_TRUE(BusyForAnotherProcess(archive));
}

TEST(PlatformArchiveLock, NameWithoutAFileIsLockedByItsFolder) {
    ScratchFolder dir;
    WriteFile(dir / "other.zip", "other");
    const pid_t holder = HoldInChild(dir / "new.zip");
    ArchiveLock lock;
    EXPECT_EQ(lock.Acquire(dir / "new.zip", false), Result::Busy);
    EXPECT_EQ(lock.Acquire(dir / "other.zip", false), Result::Locked);  // a file of its own
    lock.Release();
    Kill(holder);
    EXPECT_EQ(lock.Acquire(dir / "new.zip", false), Result::Locked);
    // Within one process a second lock of the same file (by another name)
    // or folder is nested, never waited for.
    ArchiveLock again;
    EXPECT_EQ(again.Acquire(dir.path() + "/./new.zip", false), Result::Locked);
    EXPECT_TRUE(BusyForAnotherProcess(dir / "new.zip"));
    lock.Release();
    EXPECT_TRUE(BusyForAnotherProcess(dir / "new.zip"));  // still held by `again`
    again.Release();
    EXPECT_FALSE(BusyForAnotherProcess(dir / "new.zip"));
    EXPECT_EQ(lock.Acquire(dir / "missing-folder/x.zip", false), Result::Failed);
    EXPECT_FALSE(lock.Error().empty());
}

// In German whatever the environment's language (the messages are checked).
const std::string kCli = Quote(TARVIK_CLI_PATH) + " --language DE";

// Two tarvik-cli runs adding to one archive at the same time: the second
// waits for the first (and says so), and the archive holds both files.
TEST(ArchiveLockCli, TwoWritersAtOnceKeepBothChanges) {
    ScratchFolder dir;
    Shell("head -c 20000000 /dev/urandom > big1.bin && head -c 20000000 /dev/urandom > big2.bin",
          dir.path());
    MakeArchive(dir, dir / "a.zip", 2, 0);
    const auto r = Shell(
        "(" + kCli + " add -0 a.zip big1.bin & " + kCli + " add -0 a.zip big2.bin & wait) 2>&1",
        dir.path());
    const auto names = UnzipNames(dir / "a.zip");
    EXPECT_EQ(std::count(names.begin(), names.end(), "big1.bin"), 1) << r.output;
    EXPECT_EQ(std::count(names.begin(), names.end(), "big2.bin"), 1) << r.output;
    EXPECT_EQ(std::count(names.begin(), names.end(), "t1.txt"), 1) << r.output;
    EXPECT_TRUE(UnzipTestClean(dir / "a.zip"));
}

// A rewrite of an archive another program holds: with --no-wait it fails at
// once with the reason and changes nothing; without, it waits (and says so)
// and goes on when the archive is free.
TEST(ArchiveLockCli, HeldArchiveWaitsOrFailsClearly) {
    ScratchFolder dir;
    MakeArchive(dir, dir / "a.zip", 3, 0);
    const std::string before = ReadFile(dir / "a.zip");
    ArchiveLock lock;
    ASSERT_EQ(lock.Acquire(dir / "a.zip", false), Result::Locked);
    const auto refused = Shell(kCli + " --no-wait delete --final a.zip t1.txt", dir.path());
    EXPECT_EQ(refused.status, 2);  // nothing done
    EXPECT_NE(refused.output.find("wird gerade von einem anderen Programm"), std::string::npos)
        << refused.output;
    EXPECT_TRUE(ReadFile(dir / "a.zip") == before);

    // In the background, its output and exit status in files.
    ASSERT_TRUE(Shell("(" + kCli +
                          " delete --final a.zip t1.txt > out.txt 2>&1; echo $? > rc.tmp; " +
                          "mv rc.tmp rc.txt) > /dev/null 2>&1 &",
                      dir.path()));
    auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 3000 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    EXPECT_TRUE(waitFor([&] {
        return ReadFile(dir / "out.txt").find("es wird gewartet") != std::string::npos;
    })) << ReadFile(dir / "out.txt");
    EXPECT_TRUE(ReadFile(dir / "a.zip") == before);  // still waiting
    EXPECT_FALSE(std::filesystem::exists(dir / "rc.txt"));
    lock.Release();
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(dir / "rc.txt"); }));
    EXPECT_EQ(ReadFile(dir / "rc.txt"), "0\n") << ReadFile(dir / "out.txt");
    EXPECT_EQ(UnzipNames(dir / "a.zip"), (std::vector<std::string>{"t2.txt", "t3.txt"}));
}

// The component: an archive changed by another writer after it was loaded is
// loaded again under the lock, so a delete keeps that change; an archive that
// a program without the lock replaces while the delete runs is not
// overwritten (message 196).
TEST(ArchiveLockComponent, ChangesOfOtherWritersAreKept) {
    ScratchFolder dir;
    MakeArchive(dir, dir / "a.zip", 4, 0);
    Component comp(dir / "a.zip");
    ASSERT_EQ(comp.zip.Count(), 4);
    ASSERT_TRUE(Shell(kCli + " delete --final a.zip t1.txt", dir.path()));
    comp.zip.SetFSpecArgs({"t2.txt"});
    comp.zip.Delete();
    EXPECT_EQ(comp.zip.ErrCode(), 0) << comp.zip.ErrMessage();
    EXPECT_EQ(UnzipNames(dir / "a.zip"), (std::vector<std::string>{"t3.txt", "t4.txt"}));

    MakeArchive(dir, dir / "other.zip", 1, 0, 10, "-q -X -j");
    const std::string other = ReadFile(dir / "other.zip");
    bool replaced = false;
    comp.zip.OnProgress = [&](TCustomZipArchiver&, TZAProgressDetails&) {
        if (!replaced) {
            replaced = true;
            std::rename((dir / "other.zip").c_str(), (dir / "a.zip").c_str());
        }
    };
    comp.zip.SetFSpecArgs({"t3.txt"});
    comp.zip.Delete();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(comp.zip.ErrCode(), 196);
    EXPECT_TRUE(ReadFile(dir / "a.zip") == other);
}

}  // namespace
