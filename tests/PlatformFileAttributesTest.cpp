#include "platform/FileAttributes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "PlatformTestSupport.h"

using namespace platform;
using platform_test::ScratchFolder;

namespace {

TEST(PlatformFileAttributes, KindsOfPaths) {
    ScratchFolder scratch;
    platform_test::WriteFile(scratch / "five.txt", "12345");
    platform_test::WriteFile(scratch / ".hidden", "xy");
    ASSERT_EQ(::mkdir((scratch / "folder").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((scratch / ".config").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((scratch / "five.txt").c_str(), (scratch / "link").c_str()), 0);
    ASSERT_EQ(::symlink((scratch / "gone").c_str(), (scratch / "dangling").c_str()), 0);

    struct Case {
        std::string path;
        bool exists, folder, hidden, symlink;
        std::int64_t size;
        std::uint32_t dosBits;
    };
    const Case cases[] = {
        {scratch / "five.txt", true, false, false, false, 5, 0},
        {scratch / ".hidden", true, false, true, false, 2, kDosAttrHidden},
        {scratch / "folder", true, true, false, false, 0, kDosAttrFolder},
        {scratch / "folder/", true, true, false, false, 0, kDosAttrFolder},
        {scratch / ".config/", true, true, true, false, 0, kDosAttrFolder | kDosAttrHidden},
        {scratch / "link", true, false, false, true, 5, 0},
        {scratch / "dangling", false, false, false, false, 0, 0},
        {scratch / "missing", false, false, false, false, 0, 0},
        {"", false, false, false, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const FileAttributes a = ReadFileAttributes(c.path);
        EXPECT_EQ(a.exists, c.exists);
        EXPECT_EQ(a.isFolder, c.folder);
        EXPECT_EQ(a.isHidden, c.hidden);
        EXPECT_EQ(a.isSymlink, c.symlink);
        EXPECT_EQ(a.size, c.size);
        EXPECT_FALSE(a.isReadOnly);
        EXPECT_EQ(a.dosAttributes(), c.dosBits);
    }
}

TEST(PlatformFileAttributes, HiddenNames) {
    struct Case {
        const char* path;
        bool hidden;
    };
    const Case cases[] = {
        {".bashrc", true},
        {"/home/u/.cache", true},
        {"/home/u/.cache/", true},
        {"/home/.u/x", false},
        {"a.txt", false},
        {".", false},
        {"..", false},
        {"/", false},
        {"", false},
        {"./x", false},
        {"..x", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsHiddenName(c.path), c.hidden) << c.path;
    }
}

TEST(PlatformFileAttributes, ReadOnlyWithoutWritePermission) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write every file, so nothing is read-only for it";
    }
    ScratchFolder scratch;
    const std::string file = scratch / "ro.txt";
    platform_test::WriteFile(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const FileAttributes a = ReadFileAttributes(file);
    EXPECT_TRUE(a.isReadOnly);
    EXPECT_EQ(a.dosAttributes(), kDosAttrReadOnly);
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    EXPECT_FALSE(ReadFileAttributes(file).isReadOnly);
}

TEST(PlatformFileAttributes, ModificationTimes) {
    ScratchFolder scratch;
    const std::string file = scratch / "t.bin";
    platform_test::WriteFile(file, "x");

    const DosDateTime stamp = EncodeDosDateTime({2003, 4, 5, 6, 7, 8});
    ASSERT_TRUE(SetFileDosDateTime(file, stamp));
    EXPECT_EQ(FileDosDateTime(file), stamp);
    EXPECT_EQ(ReadFileAttributes(file).dosModified(), stamp);
    EXPECT_EQ(ReadFileAttributes(file).modified, *DosToTime(stamp));

    ASSERT_TRUE(SetFileModified(file, 1000000000));
    EXPECT_EQ(ReadFileAttributes(file).modified, 1000000000);

    EXPECT_FALSE(SetFileDosDateTime(file, 0));  // not a valid DOS date-time
    EXPECT_EQ(ReadFileAttributes(file).modified, 1000000000);
    EXPECT_FALSE(SetFileDosDateTime(scratch / "missing", stamp));
    EXPECT_EQ(FileDosDateTime(scratch / "missing"), std::nullopt);
}

}  // namespace
