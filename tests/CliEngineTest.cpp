// tarvik-cli add, extract and test as a user runs them: options, exit
// status and what peer tools make of the result.
#include <gtest/gtest.h>

#include <algorithm>

#include "ZADllTestSupport.h"

using namespace bridgetest;

namespace {

const std::string kCli = Quote(TARVIK_CLI_PATH);

void MakeTree(const Scratch& s) {
    WriteFile(s / "src/a.txt", Content(1, 20000));
    WriteFile(s / "src/sub/b.bin", Content(2, 100000));
    WriteFile(s / "src/.hid", "x");
}

}  // namespace

TEST(CliEngine, AddOptionsAndPeerChecks) {
    struct Case {
        const char* options;
        const char* names;  // unzip -Z1, sorted, one line
        const char* password;
    };
    const Case cases[] = {
        // As zip: paths kept, hidden files included.
        {"", "src/.hid src/a.txt", ""},
        {"-r", "src/.hid src/a.txt src/sub/b.bin", ""},
        {"-r -j -I", "a.txt b.bin", ""},
        {"-rpH -9", "src/.hid src/a.txt src/sub/b.bin", ""},
        {"-r -E -0", "src/ src/.hid src/a.txt src/sub/ src/sub/b.bin", ""},
        {"-r -I -P Kennwort", "src/a.txt src/sub/b.bin", "Kennwort"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Scratch s;
        MakeTree(s);
        const auto add = Shell(kCli + " add " + c.options + " t.zip src", s.dir);
        EXPECT_EQ(add.status, 0) << add.output;
        EXPECT_EQ(Shell("unzip -Z1 t.zip | sort | tr '\\n' ' '", s.dir).output,
                  std::string(c.names) + " ");
        const std::string pw = c.password;
        EXPECT_EQ(
            Shell("unzip -tq " + (pw.empty() ? "" : "-P " + pw + " ") + "t.zip", s.dir).status, 0);
        EXPECT_EQ(Shell("7zz t -p" + Quote(pw) + " t.zip", s.dir).status, 0);
        if (pw.empty()) {
            EXPECT_EQ(Shell("python3 -m zipfile -t t.zip", s.dir).status, 0);
        }
        const auto test =
            Shell(kCli + " test " + (pw.empty() ? "" : "-P " + pw + " ") + "t.zip", s.dir);
        EXPECT_EQ(test.status, 0) << test.output;
    }
}

TEST(CliEngine, AddMoveFreshenUpdate) {
    Scratch s;
    MakeTree(s);
    ASSERT_EQ(Shell(kCli + " add -p t.zip src/a.txt", s.dir).status, 0);
    WriteFile(s / "src/a.txt", "neu");
    Shell("touch -d '+1 hour' src/a.txt", s.dir);
    EXPECT_EQ(Shell(kCli + " add -p -f t.zip src/a.txt src/sub/b.bin", s.dir).status, 0);
    EXPECT_EQ(Shell("unzip -Z1 t.zip | tr '\\n' ' '", s.dir).output, "src/a.txt ");
    EXPECT_EQ(Shell("unzip -p t.zip src/a.txt", s.dir).output, "neu");
    EXPECT_EQ(Shell(kCli + " add -p -u t.zip src/sub/b.bin", s.dir).status, 0);
    EXPECT_EQ(Shell("unzip -Z1 t.zip | sort | tr '\\n' ' '", s.dir).output,
              "src/a.txt src/sub/b.bin ");
    EXPECT_EQ(Shell(kCli + " add -m m.zip src/.hid", s.dir).status, 0);
    EXPECT_FALSE(fs::exists(s / "src/.hid"));
}

TEST(CliEngine, ExtractOptionsAndExitStatus) {
    Scratch s;
    WriteFile(s / "in/a.txt", "A");
    WriteFile(s / "in/d/b.txt", "B");
    ASSERT_EQ(Shell("cd in && zip -qr -P pw ../p.zip . && zip -qr ../q.zip .", s.dir).status, 0);
    struct Case {
        std::string command;
        int status;
        const char* file;  // expected afterwards ("" = none)
        const char* content;
    };
    const Case cases[] = {
        // As unzip: the folders are kept; -j drops them.
        {"extract -d o1 q.zip", 0, "o1/d/b.txt", "B"},
        {"extract -j -d o1j q.zip", 0, "o1j/b.txt", "B"},
        {"extract -p -d o2 q.zip d/b.txt", 0, "o2/d/b.txt", "B"},
        {"extract -p -d o3 -P pw p.zip", 0, "o3/d/b.txt", "B"},
        // The folder entry d/ needs no password, but no file was done.
        {"extract -p -d o4 -P falsch p.zip", 2, "", ""},
        {"extract -p -d o4 -P falsch p.zip d/", 0, "", ""},
        {"extract -p -d o5 missing.zip", 2, "", ""},
        {"test q.zip", 0, "", ""},
        {"test -P falsch p.zip", 2, "", ""},
        {"test -P falsch p.zip d/b.txt a.txt x.txt", 2, "", ""},
        {"test p.zip d/ x.txt", 1, "", ""},
        {"add", 3, "", ""},
        {"extract -x q.zip", 3, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const auto r = Shell(kCli + " " + c.command, s.dir);
        EXPECT_EQ(r.status, c.status) << r.output;
        if (*c.file) {
            EXPECT_EQ(ReadFile(s / c.file), c.content);
        }
    }
    // Existing files are kept unless -o is given.
    WriteFile(s / "o6/a.txt", "alt");
    Shell(kCli + " extract -d o6 q.zip a.txt", s.dir);
    EXPECT_EQ(ReadFile(s / "o6/a.txt"), "alt");
    EXPECT_EQ(Shell(kCli + " extract -o -d o6 q.zip a.txt", s.dir).status, 0);
    EXPECT_EQ(ReadFile(s / "o6/a.txt"), "A");
}

// An archive without entries is valid (as 7-Zip sees it): nothing to test
// or extract, and nothing failed. One that loads with a warning (data after
// its end record) is tested whole: done, with the warning said once.
TEST(CliEngine, EmptyArchiveAndLoadWarning) {
    Scratch s;
    WriteFile(s / "a.txt", Content(4, 5000));
    ASSERT_EQ(Shell("python3 -c \"import zipfile; zipfile.ZipFile('e.zip','w').close()\" && "
                    "zip -q g.zip a.txt && zip -q c.zip a.txt && printf 'xyz' >> g.zip && "
                    "cp e.zip ew.zip && printf 'xyz' >> ew.zip",
                    s.dir)
                  .status,
              0);
    struct Case {
        const char* command;
        int status;
        const char* says;  // on one line of the output
    };
    const Case cases[] = {
        {"test e.zip", 0, "0 von 0 Einträgen geprüft"},
        {"extract -d o e.zip", 0, "0 von 0 Einträgen entpackt"},
        {"test e.zip x.txt", 2, "x.txt"},
        {"test c.zip", 0, "1 von 1 Einträgen geprüft"},
        {"test g.zip", 1, "1 von 1 Einträgen geprüft"},
        {"test ew.zip", 1, "0 von 0 Einträgen geprüft"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const auto r = Shell("LANG=de_DE.UTF-8 " + kCli + " " + c.command + " 2>&1", s.dir);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
        // The summary, and one warning or skip when the status says so.
        EXPECT_LE(std::count(r.output.begin(), r.output.end(), '\n'), c.status == 0 ? 1 : 2)
            << r.output;
    }
}

TEST(CliEngine, DamagedArchiveFailsTheTest) {
    Scratch s;
    WriteFile(s / "a.txt", Content(4, 50000));
    ASSERT_EQ(Shell("zip -q p.zip a.txt", s.dir).status, 0);
    std::string bytes = ReadFile(s / "p.zip");
    bytes[100] = static_cast<char>(bytes[100] ^ 0x5A);
    WriteFile(s / "p.zip", bytes);
    const auto r = Shell(kCli + " test p.zip", s.dir);
    EXPECT_EQ(r.status, 2) << r.output;
}

// Deleting as users do (the old archive to the trash), for good, and waiting
// for the disk: the same archive afterwards, and the trash holds the old one
// only in the first case.
TEST(CliEngine, DeleteToTrashForGoodAndWaitingForTheDisk) {
    struct Case {
        const char* command;
        bool trashed;
    };
    const Case cases[] = {
        {"delete", true},
        {"delete --final", false},
        {"--sync delete --final", false},
        {"--sync delete", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Scratch s;
        MakeTree(s);
        ASSERT_EQ(Shell("cd src && zip -qr ../t.zip .", s.dir).status, 0);
        const std::string old = ReadFile(s / "t.zip");
        const auto r = Shell(
            "XDG_DATA_HOME=" + Quote(s / "share") + " " + kCli + " " + c.command + " t.zip a.txt",
            s.dir);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(Shell("unzip -Z1 t.zip | LC_ALL=C sort | tr '\\n' ' '", s.dir).output,
                  ".hid sub/ sub/b.bin ");
        EXPECT_EQ(Shell("unzip -tq t.zip", s.dir).status, 0);
        EXPECT_EQ(platform_test::pathExists(s / "share/Trash/files/t.zip"), c.trashed);
        if (c.trashed) {
            EXPECT_TRUE(ReadFile(s / "share/Trash/files/t.zip") == old);
        }
    }
}

// Names given with "." or ".." parts are stored without them, as other zip
// tools store them; a stored ".." would point outside the extraction folder.
TEST(CliEngine, AddStoresNamesWithoutDotParts) {
    struct Case {
        const char* dir;  // where the add runs, below the scratch folder
        const char* specs;
        const char* names;  // unzip -Z1, sorted, one line
    };
    const Case cases[] = {
        {"src", ".", "a.txt sub/b.bin "},
        {"src", "./sub", "sub/b.bin "},
        {".", "src/./sub/../sub", "src/sub/b.bin "},
        {"src/sub", "-E ../../src", "src/ src/a.txt src/sub/ src/sub/b.bin "},
        {"src/sub", "../a.txt ./b.bin", "a.txt b.bin "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.specs);
        Scratch s;
        MakeTree(s);
        const std::string zip = Quote(s / "t.zip");
        const auto add = Shell(kCli + " add -r -I " + zip + " " + c.specs, s / c.dir);
        EXPECT_EQ(add.status, 0) << add.output;
        EXPECT_EQ(Shell("unzip -Z1 " + zip + " | LC_ALL=C sort | tr '\\n' ' '", s.dir).output,
                  c.names);
    }
}

// A link to a folder beside the folder: with -m the real file was once deleted while only
// the path through the link was stored.
TEST(CliEngine, LinksInsideAddedFoldersKeepEveryFile) {
    Scratch s;
    WriteFile(s / "sl/real/f.txt", "f");
    fs::create_symlink("real", s / "sl/linkdir");
    const auto follow = Shell(kCli + " add -r -p -L c2.zip sl", s.dir);
    EXPECT_EQ(follow.status, 0) << follow.output;
    EXPECT_EQ(Shell("unzip -Z1 c2.zip | sort | tr '\\n' ' '", s.dir).output,
              "sl/linkdir/f.txt sl/real/f.txt ");
    const auto move = Shell(kCli + " add -r -p -m c.zip sl", s.dir);
    EXPECT_EQ(move.status, 0) << move.output;
    EXPECT_FALSE(fs::exists(s / "sl/real/f.txt"));
    ASSERT_EQ(Shell(kCli + " extract -p -d out c.zip", s.dir).status, 0);
    EXPECT_EQ(ReadFile(s / "out/sl/real/f.txt"), "f");
    EXPECT_TRUE(fs::is_symlink(s / "out/sl/linkdir"));
    EXPECT_EQ(fs::read_symlink(s / "out/sl/linkdir"), "real");
}
