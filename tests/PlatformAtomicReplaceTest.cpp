#include "platform/AtomicReplace.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "PlatformTestSupport.h"
#include "platform/TempFiles.h"

using namespace platform;
using platform_test::pathExists;
using platform_test::ReadFile;
using platform_test::ScratchFolder;
using platform_test::WriteFile;

namespace {

// Sets the disk-wait mode for one scope.
class ScopedWait {
public:
    explicit ScopedWait(bool wait) : old_(WaitForDisk()) { SetWaitForDisk(wait); }
    ~ScopedWait() { SetWaitForDisk(old_); }

private:
    bool old_;
};

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Both modes, on one file system and across two (the source on tmpfs where
// the machine has one): the target ends up with the new content and the old
// permissions, the source is gone and nothing else is left beside the target.
TEST(PlatformAtomicReplace, ReplacesWithOrWithoutWaitingForTheDisk) {
    ScratchFolder target;
    const std::string shm = pathExists("/dev/shm") ? CreateTempFolder("/dev/shm", "tarvik-test-")
                                                   : std::string();
    struct Case {
        const char* label;
        bool wait;
        bool otherFileSystem;
        bool targetExists;
    };
    const Case cases[] = {
        {"same fs, no wait, existing", false, false, true},
        {"same fs, wait, existing", true, false, true},
        {"same fs, no wait, new", false, false, false},
        {"other fs, no wait, existing", false, true, true},
        {"other fs, wait, new", true, true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.otherFileSystem && shm.empty()) {
            continue;
        }
        ScopedWait wait(c.wait);
        const std::string name = "a" + std::to_string(++n) + ".zip";
        const std::string dest = target / name;
        const std::string source = (c.otherFileSystem ? shm : target.path() + "/") + "new.tmp";
        if (c.targetExists) {
            WriteFile(dest, "old content");
            ::chmod(dest.c_str(), 0640);
        }
        WriteFile(source, std::string(300000, 'n'));
        ::chmod(source.c_str(), 0600);

        std::string error;
        ASSERT_TRUE(ReplaceFile(source, dest, &error)) << error;
        EXPECT_EQ(ReadFile(dest), std::string(300000, 'n'));
        EXPECT_FALSE(pathExists(source));
        if (c.targetExists) {
            EXPECT_EQ(modeOf(dest), 0640u);
        } else {
            // A new archive is readable like any newly made file, not private.
            EXPECT_NE(modeOf(dest) & 0044, 0u);
        }
        EXPECT_EQ(namesIn(target.path()).size(), static_cast<std::size_t>(n));
    }
    if (!shm.empty()) {
        RemoveTree(shm);
    }
}

TEST(PlatformAtomicReplace, FailureLeavesTheTargetAsItWas) {
    ScratchFolder scratch;
    for (const bool wait : {false, true}) {
        ScopedWait scoped(wait);
        const std::string dest = scratch / "keep.zip";
        WriteFile(dest, "old content");
        std::string error;
        EXPECT_FALSE(ReplaceFile(scratch / "missing.tmp", dest, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFile(dest), "old content");
    }
}

}  // namespace
