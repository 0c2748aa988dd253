#include "platform/TempFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <string>

#include "PlatformTestSupport.h"

using namespace platform;
using platform_test::pathExists;
using platform_test::ScopedEnv;
using platform_test::ScratchFolder;

namespace {

TEST(PlatformTempFiles, TempFolderFromTmpdir) {
    ScratchFolder scratch;
    const std::string missing = scratch / "missing";
    struct Case {
        const char* label;
        std::optional<std::string> tmpdir;  // nullopt: unset
        std::string expected;
    };
    const Case cases[] = {
        {"unset", std::nullopt, "/tmp/"},
        {"empty", "", "/tmp/"},
        {"folder", scratch.path(), scratch.path() + "/"},
        {"folder with slash", scratch.path() + "/", scratch.path() + "/"},
        {"missing folder", missing, "/tmp/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ScopedEnv env("TMPDIR", c.tmpdir ? c.tmpdir->c_str() : nullptr);
        EXPECT_EQ(TempFolder(), c.expected);
    }
    EXPECT_EQ(WithTrailingSlash(""), "");
    EXPECT_EQ(WithTrailingSlash("/a"), "/a/");
    EXPECT_EQ(WithTrailingSlash("/a/"), "/a/");
}

TEST(PlatformTempFiles, CreatedFilesAreNewEmptyAndUnique) {
    ScratchFolder scratch;
    ScopedEnv env("TMPDIR", scratch.path().c_str());
    struct Case {
        const char* label;
        std::string folder;
        const char* prefix;
        const char* extension;
        const char* expectedExtension;
    };
    const Case cases[] = {
        {"folder without slash", scratch.path(), "ZI$", ".tmp", ".tmp"},
        {"folder with slash", scratch.path() + "/", "zip", ".zip", ".zip"},
        {"system folder", "", "ZE_", ".dll", ".dll"},
        {"default extension", scratch.path(), "x", "", ".tmp"},
    };
    std::set<std::string> names;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        for (int i = 0; i < 20; ++i) {
            const std::string name = CreateTempFile(c.folder, c.prefix, c.extension);
            ASSERT_FALSE(name.empty());
            EXPECT_TRUE(names.insert(name).second) << "repeated " << name;
            EXPECT_EQ(name.rfind(scratch.path() + "/" + c.prefix, 0), 0u) << name;
            EXPECT_TRUE(name.ends_with(c.expectedExtension)) << name;
            EXPECT_EQ(name.find("//"), std::string::npos) << name;
            struct stat st;
            ASSERT_EQ(::stat(name.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_size, 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

TEST(PlatformTempFiles, NamesWithoutFiles) {
    ScratchFolder scratch;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        const std::string name = MakeTempFileName(scratch.path(), "zip", ".zip");
        ASSERT_FALSE(name.empty());
        EXPECT_TRUE(name.ends_with(".zip"));
        EXPECT_FALSE(pathExists(name)) << "the name is not left as a file";
        EXPECT_TRUE(names.insert(name).second);
    }
}

TEST(PlatformTempFiles, MissingFolderFails) {
    ScratchFolder scratch;
    std::string error;
    EXPECT_EQ(CreateTempFile(scratch / "nope", "zip", ".zip", &error), "");
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(MakeTempFileName(scratch / "nope", "zip", ".zip"), "");
    EXPECT_EQ(CreateTempFolder(scratch / "nope", "t"), "");
}

TEST(PlatformTempFiles, TempFoldersAreNewWithTrailingSlash) {
    ScratchFolder scratch;
    const std::string a = CreateTempFolder(scratch.path(), "TarvikTmp");
    const std::string b = CreateTempFolder(scratch.path() + "/", "TarvikTmp");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(a.ends_with("/"));
    struct stat st;
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(PlatformTempFiles, RemoveTreeRemovesLinksNotTheirTargets) {
    ScratchFolder scratch;
    const std::string outside = scratch / "outside";
    const std::string tree = scratch / "tree";
    ASSERT_EQ(::mkdir(outside.c_str(), 0755), 0);
    platform_test::WriteFile(outside + "/keep.txt", "keep");
    ASSERT_EQ(::mkdir(tree.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((tree + "/sub").c_str(), 0755), 0);
    platform_test::WriteFile(tree + "/sub/a.txt", "a");
    ASSERT_EQ(::symlink(outside.c_str(), (tree + "/sub/link").c_str()), 0);
    const std::string topLink = scratch / "toplink";
    ASSERT_EQ(::symlink(outside.c_str(), topLink.c_str()), 0);

    EXPECT_TRUE(RemoveTree(tree + "/"));
    EXPECT_FALSE(pathExists(tree));
    EXPECT_TRUE(RemoveTree(topLink + "/"));
    EXPECT_FALSE(pathExists(topLink));
    EXPECT_EQ(platform_test::ReadFile(outside + "/keep.txt"), "keep");

    EXPECT_TRUE(RemoveTree(outside + "/keep.txt"));  // a plain file
    EXPECT_FALSE(pathExists(outside + "/keep.txt"));
    EXPECT_TRUE(RemoveTree(scratch / "never-there"));
    EXPECT_FALSE(RemoveTree(""));
    EXPECT_FALSE(RemoveTree("/"));
    EXPECT_FALSE(RemoveTree("//"));
}

TEST(PlatformTempFiles, RemoveTreeReportsWhatItCouldNotRemove) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may remove files from folders without write permission";
    }
    ScratchFolder scratch;
    const std::string locked = scratch / "locked";
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    platform_test::WriteFile(locked + "/f", "x");
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    EXPECT_FALSE(RemoveTree(locked));
    EXPECT_TRUE(pathExists(locked + "/f"));
    ::chmod(locked.c_str(), 0755);
}

}  // namespace
