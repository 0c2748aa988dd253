// Deleting entries by rewriting the archive: selections, skipped
// specifications, deleting everything, self-extracting archives, duplicate
// names, the multi-archive form and what happens to the old archive.
#include "zip/ZAZippedOpr.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Trash.h"
#include "tests/RewriteTestSupport.h"

using namespace rewrite_test;

namespace {

struct DeleteCase {
    const char* name;
    std::vector<std::string> specs;
    std::vector<std::string> excludes;
    int errCode;                             // 0: success
    int deleted;                             // SuccessCount on success
    std::vector<std::string> remain;         // entries afterwards (empty: the file is gone)
    std::vector<std::string> excludesAfter;  // FSpecArgsExcl afterwards
};

TEST(ZAZippedOpr, DeleteFromCurrentArchive) {
    const std::vector<std::string> all = {"t1.txt", "t2.txt", "b1.bin", "b2.bin"};
    const DeleteCase cases[] = {
        {"wildcard", {"*.txt"}, {}, 0, 2, {"b1.bin", "b2.bin"}, {}},
        {"one entry through two specs counts once",
         {"*.txt", "t1.txt"},
         {},
         0,
         2,
         {"b1.bin", "b2.bin"},
         {}},
        {"exclusions", {"*"}, {"*.bin"}, 0, 2, {"b1.bin", "b2.bin"}, {}},
        {"unmatched spec is skipped, the rest deleted",
         {"nothing*", "b2.bin"},
         {},
         0,
         1,
         {"t1.txt", "t2.txt", "b1.bin"},
         {"stNotFound<<nothing*"}},
        {"nothing selected", {"nothing*"}, {}, 13, 0, all, {"nothing*"}},
        {"everything deletes the file", {"*"}, {}, 0, 4, {}, {}},
        {"no specs", {}, {}, 13, 0, all, {}},
    };
    for (const DeleteCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder dir;
        const std::string archive = dir / "a.zip";
        MakeArchive(dir, archive, 2, 2);
        Component comp(archive);
        ASSERT_TRUE(comp.zip.ArchiveLoaded());
        comp.zip.SetFSpecArgs(c.specs);
        comp.zip.SetFSpecArgsExcl(c.excludes);
        comp.zip.Delete();
        EXPECT_EQ(comp.zip.ErrCode(), c.errCode);
        if (c.errCode == 0) {
            EXPECT_EQ(comp.zip.SuccessCount(), c.deleted);
            EXPECT_EQ(comp.zip.FSpecArgsExcl(), c.excludesAfter);
            // FSpecArgs lists what was deleted.
            EXPECT_EQ(static_cast<int>(comp.zip.FSpecArgs().size()), c.deleted);
        } else {
            // A failure leaves the lists as the application put them.
            EXPECT_EQ(comp.zip.FSpecArgs(), c.specs);
        }
        if (c.remain.empty()) {
            EXPECT_FALSE(std::filesystem::exists(archive));
            EXPECT_EQ(comp.zip.Count(), 0);
        } else {
            EXPECT_EQ(UnzipNames(archive), c.remain);
            EXPECT_TRUE(UnzipTestClean(archive));
            EXPECT_EQ(comp.zip.Count(), static_cast<int>(c.remain.size()));  // reloaded
        }
        // Nothing was left beside the archive.
        int files = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            files += e.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, c.remain.empty() ? 0 : 1);
    }
}

TEST(ZAZippedOpr, UnmatchedSpecIsReportedAsSkipped) {
    ScratchFolder dir;
    const std::string archive = dir / "a.zip";
    MakeArchive(dir, archive, 1, 1);
    Component comp(archive);
    comp.zip.SetFSpecArgs({"missing.doc"});
    comp.zip.Delete();
    EXPECT_EQ(comp.skipped, std::vector<std::string>{"missing.doc"});
    EXPECT_EQ(comp.zip.ErrCode(), 13);
    EXPECT_EQ(comp.codes.size(), 1u);
}

TEST(ZAZippedOpr, SelfExtractingArchiveStaysSelfExtracting) {
    ScratchFolder dir;
    const std::string archive = dir / "a.zip";
    MakeArchive(dir, archive, 2, 2);
    {
        Component comp(archive);
        ASSERT_EQ(comp.zip.ConvertToSFX(), 0);
    }
    const std::string exe = dir / "a.exe";
    const std::string stubBefore = ReadFile(exe).substr(0, 40000);
    Component comp(exe);
    ASSERT_TRUE(comp.zip.ArchiveLoaded());
    comp.zip.SetFSpecArgs({"t1.txt"});
    comp.zip.Delete();
    ASSERT_EQ(comp.zip.ErrCode(), 0);
    const std::string after = ReadFile(exe);
    EXPECT_EQ(after.substr(0, 2), "MZ");
    EXPECT_EQ(after.substr(0, 40000), stubBefore);  // the stub is kept as it was
    EXPECT_EQ(UnzipNames(exe), (std::vector<std::string>{"t2.txt", "b1.bin", "b2.bin"}));
    EXPECT_TRUE(UnzipTestClean(exe));
    EXPECT_EQ(Shell("7zz t " + Quote(exe)).status, 0);
    const std::string extractor = SfxExtractor();
    if (!extractor.empty()) {
        EXPECT_EQ(Shell(Quote(extractor) + " " + Quote(exe) + " " + Quote(dir / "out")).status, 0);
        EXPECT_EQ(ReadFile(dir / "out/t2.txt"), "text file 2\n");
        EXPECT_FALSE(std::filesystem::exists(dir / "out/t1.txt"));
    }
}

TEST(ZAZippedOpr, DuplicateNamesFailWithMessage104) {
    ScratchFolder dir;
    const std::string archive = dir / "dup.zip";
    ASSERT_EQ(Shell("python3 -W ignore -c \"import zipfile\nwith zipfile.ZipFile('" + archive +
                    "', 'w') as z:\n  z.writestr('x.txt', 'one')\n  z.writestr('x.txt', 'two')\n"
                    "  z.writestr('y.txt', 'three')\"")
                  .status,
              0);
    const std::string before = ReadFile(archive);
    Component comp(archive);
    ASSERT_TRUE(comp.zip.ArchiveLoaded());
    comp.zip.SetFSpecArgs({"y.txt"});
    comp.zip.Delete();
    EXPECT_EQ(comp.zip.ErrCode(), 104);
    EXPECT_EQ(ReadFile(archive), before);
}

TEST(ZAZippedOpr, DeleteFromSeveralArchives) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;  // "%d" stands for the scratch folder
        int errCode;
        std::vector<std::string> remainA;
        std::vector<std::string> remainB;  // empty: deleted
    };
    const std::vector<std::string> all = {"t1.txt", "t2.txt", "b1.bin"};
    // Absolute names are quoted: a "/" at the start of a line begins a switch.
    const Case cases[] = {
        {"entry of one, all of the other",
         {"\"%d/a.zip\" >> t2.txt", "\"%d/b.zip\""},
         0,
         {"t1.txt", "b1.bin"},
         {}},
        {"exclusion for one line", {"\"%d/b.zip\" /E:*.bin"}, 0, all, {"b1.bin"}},
        // b.zip, last, has nothing selected: its message 13 is the result.
        {"exclusion for the following lines",
         {"/E:*.txt", "\"%d/a.zip\"", "\"%d/b.zip\" >> t1.txt"},
         13,
         {"t1.txt", "t2.txt"},
         all},
        {"missing archive is skipped",
         {"\"%d/none.zip\" >> t1.txt", "\"%d/a.zip\" >> t1.txt"},
         0,
         {"t2.txt", "b1.bin"},
         all},
        {"nothing selected", {"\"%d/a.zip\" >> none.txt"}, 12, all, all},
        {"wildcards need the whole archive", {"\"%d/a.zip\" >> *.txt"}, 132, all, all},
        {"a switch alone names no archive", {"/tmp/x.zip"}, 132, all, all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder dir;
        MakeArchive(dir, dir / "a.zip", 2, 1);
        MakeArchive(dir, dir / "b.zip", 2, 1);
        std::vector<std::string> lines;
        for (std::string line : c.lines) {
            const auto at = line.find("%d");
            if (at != std::string::npos) {
                line.replace(at, 2, dir.path());
            }
            lines.push_back(line);
        }
        Component comp;
        comp.zip.SetFSpecArgs(lines);
        comp.zip.Delete();
        EXPECT_EQ(comp.zip.ErrCode(), c.errCode);
        EXPECT_EQ(UnzipNames(dir / "a.zip"), c.remainA);
        if (c.remainB.empty()) {
            EXPECT_FALSE(std::filesystem::exists(dir / "b.zip"));
        } else {
            EXPECT_EQ(UnzipNames(dir / "b.zip"), c.remainB);
        }
    }
}

TEST(ZAZippedOpr, HowToDeleteDecidesWhetherTheOldArchiveGoesToTheTrash) {
    struct Case {
        TZADeleteOpts how;
        std::vector<std::string> specs;
        bool inTrash;
    };
    const Case cases[] = {
        {htdAllowUndo, {"t1.txt"}, true},
        {htdFinal, {"t1.txt"}, false},
        {htdAllowUndo, {"*"}, true},  // deleting every entry deletes the file
        {htdFinal, {"*"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.how) + " " + c.specs[0]);
        ScratchFolder dir;
        ScopedEnv data("XDG_DATA_HOME", (dir / "share").c_str());
        const std::string archive = dir / "a.zip";
        MakeArchive(dir, archive, 2, 1);
        const std::string before = ReadFile(archive);
        Component comp(archive);
        comp.zip.SetHowToDelete(c.how);
        comp.zip.SetFSpecArgs(c.specs);
        comp.zip.Delete();
        ASSERT_EQ(comp.zip.ErrCode(), 0);
        const std::string trashed = dir / "share/Trash/files/a.zip";
        EXPECT_EQ(std::filesystem::exists(trashed), c.inTrash);
        if (c.inTrash) {
            EXPECT_EQ(ReadFile(trashed), before);  // the old archive, complete
        }
    }
}

}  // namespace
