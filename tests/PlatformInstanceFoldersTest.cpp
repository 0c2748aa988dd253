#include "platform/InstanceFolders.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "PlatformTestSupport.h"
#include "platform/TempFiles.h"

using namespace platform;
using platform_test::pathExists;
using platform_test::ScratchFolder;

namespace {

// Another process that holds the lock of `folder` until it is told to end.
class LockHolder {
public:
    explicit LockHolder(const std::string& folder) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(stop_) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
            const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(stop_[0], &c, 1);
            ::_exit(0);
        }
        char ok = '0';
        (void)!::read(ready[0], &ok, 1);
        locked_ = ok == '1';
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockHolder() { End(); }
    void End() {
        if (pid_ > 0) {
            (void)!::write(stop_[1], "x", 1);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    int stop_[2] = {-1, -1};
    bool locked_ = false;
};

TEST(PlatformInstanceFolders, PrivateLockedAndRemovedWhenTheirInstanceEnded) {
    ScratchFolder scratch;
    const std::string mine = CreateInstanceFolder(scratch.path(), "Inst-");
    ASSERT_FALSE(mine.empty());
    EXPECT_EQ(mine.substr(0, (scratch / "Inst-").size()), scratch / "Inst-");
    EXPECT_EQ(mine.size(), (scratch / "Inst-").size() + 6 + 1);  // six characters and "/"
    struct stat st {};
    ASSERT_EQ(::lstat(mine.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_NE(CreateInstanceFolder(scratch.path(), "Inst-"), mine);

    // Another running instance's folder, one of an ended instance, a link, a
    // name of another length and another prefix.
    ASSERT_EQ(::mkdir((scratch / "Inst-lebt01").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "Inst-tot001").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "Inst-tot001/inhalt").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "ziel").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((scratch / "ziel").c_str(), (scratch / "Inst-link01").c_str()), 0);
    ASSERT_EQ(::mkdir((scratch / "Inst-new-abcdef").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "Inst-new-tot002").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((scratch / "Other-tot001").c_str(), 0700), 0);
    LockHolder other(scratch / "Inst-lebt01");
    ASSERT_TRUE(other.locked());
    LockHolder making(scratch / "Inst-new-abcdef");  // being made by a running instance
    ASSERT_TRUE(making.locked());

    // The ended instance's folder and the one an instance died making.
    EXPECT_EQ(RemoveStaleInstanceFolders(scratch.path(), "Inst-"), 2);
    EXPECT_FALSE(pathExists(scratch / "Inst-new-tot002"));
    EXPECT_FALSE(pathExists(scratch / "Inst-tot001"));
    EXPECT_TRUE(pathExists(scratch / "Inst-lebt01"));
    EXPECT_TRUE(pathExists(mine));  // this process's own
    EXPECT_TRUE(pathExists(scratch / "Inst-link01"));
    EXPECT_TRUE(pathExists(scratch / "ziel"));
    EXPECT_TRUE(pathExists(scratch / "Inst-new-abcdef"));
    EXPECT_TRUE(pathExists(scratch / "Other-tot001"));

    other.End();
    EXPECT_EQ(RemoveStaleInstanceFolders(scratch.path(), "Inst-"), 1);
    EXPECT_FALSE(pathExists(scratch / "Inst-lebt01"));

    EXPECT_TRUE(ReleaseInstanceFolder(mine));
    EXPECT_FALSE(pathExists(mine));
    EXPECT_EQ(CreateInstanceFolder(scratch / "fehlt", "Inst-"), "");
}

}  // namespace
