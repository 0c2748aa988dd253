#include "platform/AtomicReplace.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
    const std::string shm =
        pathExists("/dev/shm") ? CreateTempFolder("/dev/shm", "tarvik-test-") : std::string();
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

// A name that is a symbolic link (or a chain of them) stays one: the file it leads to is
// replaced, by a named file or by an unnamed one (on the target's file system or, where the
// machine has one, on tmpfs). A link to a missing file makes that file.
TEST(PlatformAtomicReplace, LinksStayLinksAndTheirTargetIsReplaced) {
    const std::string shm =
        pathExists("/dev/shm") ? CreateTempFolder("/dev/shm", "tarvik-test-") : std::string();
    struct Case {
        const char* label;
        std::vector<std::pair<std::string, std::string>> links;  // name -> link text
        std::string file;                                        // where the content lands
        bool exists;
    };
    const Case cases[] = {
        {"relative link", {{"l.zip", "store/real.zip"}}, "store/real.zip", true},
        {"chain of links",
         {{"l.zip", "store/mid.zip"}, {"store/mid.zip", "real.zip"}},
         "store/real.zip",
         true},
        {"absolute link", {{"l.zip", "@/store/real.zip"}}, "store/real.zip", true},
        {"link to a missing file", {{"l.zip", "store/real.zip"}}, "store/real.zip", false},
    };
    enum Way { kNamed, kUnnamed, kUnnamedOnTmpfs };
    for (const Way way : {kNamed, kUnnamed, kUnnamedOnTmpfs}) {
        if (way == kUnnamedOnTmpfs && shm.empty()) {
            continue;
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(c.label + std::string(" / way ") + std::to_string(way));
            ScratchFolder dir;
            ::mkdir((dir / "store").c_str(), 0755);
            for (const auto& [name, text] : c.links) {
                const std::string link = text[0] == '@' ? dir.path() + text.substr(1) : text;
                ASSERT_EQ(::symlink(link.c_str(), (dir / name).c_str()), 0);
            }
            if (c.exists) {
                WriteFile(dir / c.file, "old content");
                ::chmod((dir / c.file).c_str(), 0640);
            }
            EXPECT_EQ(ResolveLinks(dir / "l.zip"), dir / c.file);
            std::string error;
            if (way == kNamed) {
                WriteFile(dir / "new.tmp", "new content");
                ASSERT_TRUE(ReplaceFile(dir / "new.tmp", dir / "l.zip", &error)) << error;
            } else {
                const int fd = CreateUnnamedFile(way == kUnnamed ? dir.path() : shm);
                ASSERT_GE(fd, 0);
                ASSERT_EQ(::write(fd, "new content", 11), 11);
                EXPECT_TRUE(ReplaceFileFrom(fd, dir / "l.zip", &error)) << error;
                ::close(fd);
            }
            EXPECT_EQ(ReadFile(dir / c.file), "new content");
            if (c.exists) {
                EXPECT_EQ(modeOf(dir / c.file), 0640u);
            }
            for (const auto& [name, text] : c.links) {
                struct stat st {};
                EXPECT_TRUE(::lstat((dir / name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) << name;
            }
            // Nothing else is left: the links, the file and the "store" folder.
            EXPECT_EQ(namesIn(dir / "store").size() + namesIn(dir.path()).size(),
                      c.links.size() + 2);
        }
    }
    if (!shm.empty()) {
        EXPECT_TRUE(namesIn(shm).empty());
        RemoveTree(shm);
    }
}

}  // namespace

// Only the hidden names a replacement of that very archive gives its files
// are taken for left-overs of a killed run.
TEST(PlatformAtomicReplace, RemovesOnlyWhatAKilledReplacementLeft) {
    ScratchFolder dir;
    const std::string folder = dir.path();
    WriteFile(folder + "/a.zip", "archive");
    const std::vector<std::string> left = {".a.zip.k3x9q0ab", ".a.zip.00000000"};
    const std::vector<std::string> kept = {
        ".a.zip.K3X9Q0AB",   // not a suffix of ours
        ".a.zip.k3x9q0a",    // too short
        ".a.zip.k3x9q0abc",  // too long
        ".b.zip.k3x9q0ab",   // another archive's
        "a.zip.k3x9q0ab",    // not hidden
        ".a.zip.tarvik-journal",
    };
    for (const auto& name : left) {
        WriteFile(folder + "/" + name, "left");
    }
    for (const auto& name : kept) {
        WriteFile(folder + "/" + name, "kept");
    }
    ASSERT_EQ(::mkdir((folder + "/.a.zip.folder00").c_str(), 0700), 0);  // folders stay
    EXPECT_EQ(RemoveLeftReplacements(folder + "/a.zip"), 2);
    std::vector<std::string> expected = kept;
    expected.push_back("a.zip");
    expected.push_back(".a.zip.folder00");
    std::vector<std::string> names = namesIn(folder);
    std::sort(names.begin(), names.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
}
