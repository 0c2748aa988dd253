#include "platform/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "PlatformTestSupport.h"

using namespace platform;
using platform_test::pathExists;
using platform_test::ReadFile;
using platform_test::ScopedEnv;
using platform_test::ScratchFolder;
using platform_test::WriteFile;

namespace {

// A home trash in a scratch folder, and a work folder beside it (the same
// file system, so files go to the home trash).
class PlatformTrash : public ::testing::Test {
protected:
    ScratchFolder scratch;
    ScopedEnv dataHome{"XDG_DATA_HOME", (scratch / "data").c_str()};
    std::string trash = scratch / "data/Trash";
    std::string work = scratch / "work";

    void SetUp() override {
        ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
        work = std::filesystem::canonical(work);  // trashinfo records canonical folders
    }

    // The Path= value of a trashinfo file, "" when the file is malformed.
    static std::string infoPath(const std::string& infoFile) {
        static const std::regex kInfo(
            "\\[Trash Info\\]\nPath=([^\n]*)\n"
            "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
        std::smatch m;
        const std::string text = ReadFile(infoFile);
        return std::regex_match(text, m, kInfo) ? m[1].str() : "";
    }
};

TEST_F(PlatformTrash, HomeTrashFolderFromEnvironment) {
    EXPECT_EQ(HomeTrashFolder(), trash);
    {
        ScopedEnv relative("XDG_DATA_HOME", "relative/data");  // ignored: not absolute
        ScopedEnv home("HOME", "/home/anna/");
        EXPECT_EQ(HomeTrashFolder(), "/home/anna/.local/share/Trash");
    }
    ScopedEnv unset("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", "/home/bert");
    EXPECT_EQ(HomeTrashFolder(), "/home/bert/.local/share/Trash");
}

TEST_F(PlatformTrash, FileAndFolderAreMoved) {
    WriteFile(work + "/report.txt", "content");
    ASSERT_EQ(::mkdir((work + "/dir").c_str(), 0755), 0);
    WriteFile(work + "/dir/inner.txt", "inner");

    const TrashResult file = MoveToTrash(work + "/report.txt");
    ASSERT_TRUE(file) << file.error;
    EXPECT_FALSE(pathExists(work + "/report.txt"));
    EXPECT_EQ(file.trashedPath, trash + "/files/report.txt");
    EXPECT_EQ(file.infoPath, trash + "/info/report.txt.trashinfo");
    EXPECT_EQ(ReadFile(file.trashedPath), "content");
    EXPECT_EQ(infoPath(file.infoPath), work + "/report.txt");

    const TrashResult dir = MoveToTrash(work + "/dir/");
    ASSERT_TRUE(dir) << dir.error;
    EXPECT_FALSE(pathExists(work + "/dir"));
    EXPECT_EQ(ReadFile(trash + "/files/dir/inner.txt"), "inner");
    EXPECT_EQ(infoPath(trash + "/info/dir.trashinfo"), work + "/dir");

    struct stat st;
    ASSERT_EQ(::stat(trash.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(PlatformTrash, CollisionsGetNumbers) {
    for (const char* sub : {"a", "b", "c"}) {
        const std::string folder = work + "/" + sub;
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        WriteFile(folder + "/same.txt", sub);
    }
    // A stray file in files/ without an info file also holds its name.
    ASSERT_TRUE(MoveToTrash(work + "/a/same.txt"));
    WriteFile(trash + "/files/same.txt.2", "stray");

    const TrashResult b = MoveToTrash(work + "/b/same.txt");
    const TrashResult c = MoveToTrash(work + "/c/same.txt");
    ASSERT_TRUE(b) << b.error;
    ASSERT_TRUE(c) << c.error;
    EXPECT_EQ(b.trashedPath, trash + "/files/same.txt.3");
    EXPECT_EQ(c.trashedPath, trash + "/files/same.txt.4");
    EXPECT_EQ(ReadFile(b.trashedPath), "b");
    EXPECT_EQ(ReadFile(c.trashedPath), "c");
    EXPECT_EQ(ReadFile(trash + "/files/same.txt"), "a");
    EXPECT_EQ(ReadFile(trash + "/files/same.txt.2"), "stray");
    EXPECT_FALSE(pathExists(trash + "/info/same.txt.2.trashinfo"));
    EXPECT_EQ(infoPath(trash + "/info/same.txt.3.trashinfo"), work + "/b/same.txt");
}

TEST_F(PlatformTrash, NamesArePercentEncoded) {
    const std::string name = "Bericht M\xC3\xA4rz 100%.txt";
    WriteFile(work + "/" + name, "x");
    const TrashResult r = MoveToTrash(work + "/" + name);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.trashedPath, trash + "/files/" + name);
    EXPECT_EQ(infoPath(r.infoPath), PercentEncodePath(work) + "/Bericht%20M%C3%A4rz%20100%25.txt");

    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"/a-b_c.d~e/F9", "/a-b_c.d~e/F9"},
        {"/x y", "/x%20y"},
        {"/\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", "/%C3%A4%C3%B6%C3%BC%C3%9F"},
        {"/a#b?c&d=e+f", "/a%23b%3Fc%26d%3De%2Bf"},
        {"/new\nline", "/new%0Aline"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PercentEncodePath(c.in), c.out);
    }
}

TEST_F(PlatformTrash, LinkIsTrashedNotItsTarget) {
    WriteFile(work + "/target.txt", "t");
    ASSERT_EQ(::symlink((work + "/target.txt").c_str(), (work + "/link").c_str()), 0);
    ASSERT_TRUE(MoveToTrash(work + "/link"));
    EXPECT_EQ(ReadFile(work + "/target.txt"), "t");
    struct stat st;
    ASSERT_EQ(::lstat((trash + "/files/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(PlatformTrash, FailuresLeaveTheFileAndNoInfo) {
    // A name so long that NAME.trashinfo exceeds the file system's limit.
    const std::string longName(250, 'n');
    WriteFile(work + "/" + longName, "keep");

    struct Case {
        const char* label;
        std::string path;
    };
    const Case cases[] = {
        {"missing", work + "/missing.txt"},
        {"empty", ""},
        {"root", "/"},
        {"dot-dot", work + "/.."},
        {"name too long for the info file", work + "/" + longName},
        {"inside the trash", trash + "/files"},
    };
    std::filesystem::create_directories(trash + "/files");
    std::filesystem::create_directories(trash + "/info");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const TrashResult r = MoveToTrash(c.path);
        EXPECT_FALSE(r);
        EXPECT_FALSE(r.error.empty());
    }
    EXPECT_EQ(ReadFile(work + "/" + longName), "keep");
    EXPECT_TRUE(pathExists(trash + "/files"));
    EXPECT_TRUE(std::filesystem::is_empty(trash + "/info"));
}

TEST_F(PlatformTrash, TopDirectoryTrashChoice) {
    const std::string uid = std::to_string(::getuid());
    const std::string top = scratch / "top";
    ASSERT_EQ(::mkdir(top.c_str(), 0755), 0);

    // Nothing there yet and nothing to be created.
    EXPECT_EQ(TopDirTrashFolder(top, false), std::nullopt);
    // Without a shared .Trash: .Trash-$uid, created private.
    EXPECT_EQ(TopDirTrashFolder(top, true), top + "/.Trash-" + uid);
    struct stat st;
    ASSERT_EQ(::stat((top + "/.Trash-" + uid).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A shared .Trash without the sticky bit is not trusted.
    const std::string shared = top + "/.Trash";
    ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    EXPECT_EQ(TopDirTrashFolder(top, true), top + "/.Trash-" + uid);
    EXPECT_FALSE(pathExists(shared + "/" + uid));

    // With the sticky bit: .Trash/$uid.
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    EXPECT_EQ(TopDirTrashFolder(top, true), shared + "/" + uid);

    // A shared .Trash that is a link, even to a good folder, is not trusted.
    const std::string top2 = scratch / "top2";
    ASSERT_EQ(::mkdir(top2.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(shared.c_str(), (top2 + "/.Trash").c_str()), 0);
    EXPECT_EQ(TopDirTrashFolder(top2, true), top2 + "/.Trash-" + uid);

    // Our own folder planted as a link is refused too.
    const std::string top3 = scratch / "top3";
    ASSERT_EQ(::mkdir(top3.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(top.c_str(), (top3 + "/.Trash-" + uid).c_str()), 0);
    EXPECT_EQ(TopDirTrashFolder(top3, true), std::nullopt);
}

}  // namespace
