// Engine jobs around the archive file: adding with spanning writes a
// multi-part set, extract and test read sets (Info-ZIP's and ours, entries
// crossing part boundaries), and adding to a new ".exe" writes a
// self-extracting program. Through tarvik-cli and, for cancelling, the
// component; every run must leave its temporary folder empty.
#include <gtest/gtest.h>

#include <functional>

#include "ZADllTestSupport.h"
#include "zip/ZADllOpr.h"
#include "zip/ZipArchiver.h"

using namespace bridgetest;

namespace {

const std::string kCli = Quote(TARVIK_CLI_PATH);

// tarvik-cli with its own temporary folder in the scratch folder.
const char* const kTemp = "_tmp";
ztest::ShellResult Cli(const Scratch& s, const std::string& args) {
    fs::create_directories(s / kTemp);
    return Shell("TMPDIR=" + Quote(s / kTemp) + " " + kCli + " " + args, s.dir);
}

bool TempIsEmpty(const Scratch& s) {
    std::error_code ec;
    return fs::is_empty(s / kTemp, ec);
}

// Two files larger than the 64 KiB parts used below (noise does not shrink,
// so its stored data crosses a part boundary) and a small one. Info-ZIP's
// zip -s 0 joins an entry spread over three or more parts wrongly (its own
// sets too), so no entry here spans more than two.
void MakeTree(const Scratch& s) {
    std::string noise(100000, '\0');
    unsigned x = 12345;
    for (char& c : noise) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    WriteFile(s / "src/noise.bin", noise);
    WriteFile(s / "src/text.txt", Content(7, 120000));
    WriteFile(s / "src/sub/klein.txt", "klein\n");
}

std::vector<std::string> Files(const Scratch& s, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(s.dir))
        if (e.path().filename().string().starts_with(prefix))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool SameTree(const Scratch& s, const std::string& a, const std::string& b) {
    return Shell("diff -r " + a + " " + b, s.dir).status == 0;
}

}  // namespace

TEST(ZADllOprSets, SpannedAddWritesSetsThatReadBack) {
    struct Case {
        const char* options;
        std::vector<std::string> parts;
        bool infoZipNames;  // zip -s 0 and 7zz read it
    };
    const Case cases[] = {
        {"-s 64k", {"t.z01", "t.z02", "t.zip"}, true},
        {"-s 64k -N", {"t001.zip", "t002.zip", "t003.zip"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        Scratch s;
        MakeTree(s);
        // Level 6: the part counts follow from its sizes.
        const auto add = Cli(s, std::string("add -r -p -6 ") + c.options + " t.zip src");
        ASSERT_EQ(add.status, 0) << add.output;
        EXPECT_EQ(Files(s, "t"), c.parts);
        for (const std::string& part : c.parts)
            EXPECT_LE(fs::file_size(s / part), 64u * 1024) << part;
        if (c.infoZipNames) {
            const auto joined = Shell("zip -s 0 t.zip --out j.zip && unzip -tq j.zip", s.dir);
            EXPECT_EQ(joined.status, 0) << joined.output;
            EXPECT_EQ(Shell("7zz t t.zip", s.dir).status, 0);
            fs::remove(s / "j.zip");
        }
        EXPECT_EQ(Cli(s, "test t.zip").status, 0);
        ASSERT_EQ(Cli(s, "extract -p -d out t.zip").status, 0);
        EXPECT_TRUE(SameTree(s, "src", "out/src"));
        EXPECT_TRUE(TempIsEmpty(s));
    }
}

TEST(ZADllOprSets, AddToAnExistingArchiveOrSetKeepsItsEntries) {
    struct Step {
        const char* args;
        std::vector<std::string> parts;  // afterwards
    };
    // An empty archive becomes a set; an add without -s keeps a set a set,
    // with its naming; a set can change its naming and grow or shrink: no
    // part of the old set may stay behind (it would make the set ambiguous).
    const Step steps[] = {
        {"add -p -s 40k -N t.zip src/noise.bin", {"t001.zip", "t002.zip", "t003.zip"}},
        {"add -p t.zip src/sub/klein.txt", {"t001.zip", "t002.zip", "t003.zip"}},
        {"add -p -6 -s 40k t.zip src/text.txt", {"t.z01", "t.z02", "t.z03", "t.zip"}},
        {"add -p -s 128k t.zip src/sub/klein.txt", {"t.z01", "t.zip"}},
        {"add -p t.zip src/sub/klein.txt", {"t.z01", "t.zip"}},
    };
    Scratch s;
    MakeTree(s);
    ASSERT_EQ(Shell("python3 -c \"import zipfile; zipfile.ZipFile('t.zip', 'w')\"", s.dir).status,
              0);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args);
        const auto r = Cli(s, step.args);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(Files(s, "t"), step.parts);
        EXPECT_TRUE(TempIsEmpty(s));
    }
    ASSERT_EQ(Cli(s, "extract -p -d out t.zip").status, 0);
    EXPECT_TRUE(SameTree(s, "src", "out/src"));
}

// Adds keep the old archive in the trash (tarvik-cli adds with undo), but never the
// temporary copy a set is written from, nor a program made for the add.
TEST(ZADllOprSets, OnlyOldArchivesGoToTheTrash) {
    struct Step {
        const char* args;
        std::vector<std::string> trash;  // afterwards, sorted
    };
    const Step steps[] = {
        {"add -p t.exe src/sub/klein.txt", {}},
        {"add -p t.zip src/sub/klein.txt", {}},
        {"add -p t.zip src/text.txt", {"t.zip"}},
        {"add -p -s 64k t.zip src/noise.bin", {"t.zip", "t.zip.2"}},
    };
    Scratch s;
    MakeTree(s);
    platform_test::ScopedEnv data("XDG_DATA_HOME", (s / "share").c_str());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args);
        const auto r = Cli(s, step.args);
        ASSERT_EQ(r.status, 0) << r.output;
        std::vector<std::string> trash;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(s / "share/Trash/files", ec))
            trash.push_back(e.path().filename().string());
        std::sort(trash.begin(), trash.end());
        EXPECT_EQ(trash, step.trash);
    }
}

TEST(ZADllOprSets, ExtractAndTestReadSets) {
    struct Case {
        const char* name;
        const char* zipArgs;   // Info-ZIP zip, in the scratch folder
        const char* spanArgs;  // then tarvik-cli span, when not null
    };
    const Case cases[] = {
        {"zip -s", "-qr -s 64k z.zip src", nullptr},
        {"span", "-qr w.zip src", "--volume-size 64k w.zip z.zip"},
        {"span --numbered", "-qr w.zip src", "--volume-size 64k --numbered w.zip z.zip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch s;
        MakeTree(s);
        ASSERT_EQ(Shell(std::string("zip ") + c.zipArgs, s.dir).status, 0);
        if (c.spanArgs != nullptr) {
            ASSERT_EQ(Cli(s, std::string("span ") + c.spanArgs).status, 0);
        }
        ASSERT_GT(Files(s, "z").size(), 2u);
        EXPECT_EQ(Cli(s, "test z.zip").status, 0);
        const auto all = Cli(s, "extract -p -d out z.zip");
        EXPECT_EQ(all.status, 0) << all.output;
        EXPECT_TRUE(SameTree(s, "src", "out/src"));
        // One entry whose data crosses part boundaries.
        const auto one = Cli(s, "extract -j -d one z.zip src/noise.bin");
        EXPECT_EQ(one.status, 0) << one.output;
        EXPECT_TRUE(ReadFile(s / "one/noise.bin") == ReadFile(s / "src/noise.bin"));
        EXPECT_TRUE(TempIsEmpty(s));
    }
}

TEST(ZADllOprSets, DamagedSetFailsAndLeavesNothing) {
    Scratch s;
    MakeTree(s);
    ASSERT_EQ(Shell("zip -qr -s 64k z.zip src", s.dir).status, 0);
    // A part with other bytes: the set opens, but the data no longer checks.
    std::string part = ReadFile(s / "z.z02");
    for (std::size_t i = 1000; i < part.size(); i += 97)
        part[i] = static_cast<char>(part[i] ^ 0x5A);
    WriteFile(s / "z.z02", part);
    EXPECT_EQ(Cli(s, "test z.zip").status, 2);
    EXPECT_TRUE(TempIsEmpty(s));
    // A missing part: the set cannot be read at all.
    fs::remove(s / "z.z02");
    EXPECT_EQ(Cli(s, "extract -d out z.zip").status, 2);
    EXPECT_TRUE(TempIsEmpty(s));
}

TEST(ZADllOprSets, AddToANewExeWritesASelfExtractor) {
    if (std::string(TARVIK_SFX_STUB_FILE).empty())
        GTEST_SKIP() << "built without the Windows cross compiler";
    Scratch s;
    MakeTree(s);
    const std::string extractor = Quote(TARVIK_SFX_EXTRACT);
    const auto add = Cli(s, "add -r -p n.exe src");
    ASSERT_EQ(add.status, 0) << add.output;
    EXPECT_EQ(ReadFile(s / "n.exe").substr(0, 2), "MZ");
    EXPECT_EQ(Shell("unzip -tq n.exe", s.dir).status, 0);
    EXPECT_EQ(Shell("7zz t -tzip n.exe", s.dir).status, 0);
    ASSERT_EQ(Shell(extractor + " n.exe x1", s.dir).status, 0);
    EXPECT_TRUE(SameTree(s, "src", "x1/src"));
    // Adding again keeps the stub in front, with the offsets still right.
    WriteFile(s / "more/neu.txt", "neu\n");
    const auto again = Cli(s, "add -p n.exe more/neu.txt");
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(ReadFile(s / "n.exe").substr(0, 2), "MZ");
    EXPECT_EQ(Shell("unzip -tq n.exe", s.dir).status, 0);
    ASSERT_EQ(Shell(extractor + " n.exe x2", s.dir).status, 0);
    EXPECT_EQ(ReadFile(s / "x2/more/neu.txt"), "neu\n");
    // An add that adds nothing leaves no program behind.
    EXPECT_EQ(Cli(s, "add m.exe fehlt.txt").status, 2);
    EXPECT_FALSE(fs::exists(s / "m.exe"));
    EXPECT_TRUE(TempIsEmpty(s));
}

TEST(ZADllOprSets, CancelledSpannedAddKeepsTheOldSet) {
    // A cancel while the old set is copied, and one while the engine adds.
    struct Case {
        const char* name;
        std::function<bool(const TZAProgressDetails&)> cancelAt;
    };
    const Case cases[] = {
        {"copying the set", [](const TZAProgressDetails&) { return true; }},
        {"adding", [](const TZAProgressDetails& d) { return d.ItemName().ends_with("c.bin"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch s;
        MakeTree(s);
        WriteFile(s / "big/c.bin", Content(3, 3'000'000));
        ASSERT_EQ(Shell("zip -qrD -s 64k t.zip src/sub src/noise.bin", s.dir).status, 0);
        const std::vector<std::string> parts = Files(s, "t");
        std::vector<std::string> before;
        for (const std::string& p : parts)
            before.push_back(ReadFile(s / p));
        TZipArchiver zip;
        zip.SetDLLDirectory(TARVIK_ENGINE_PATH);
        zip.SetUnattended(true);
        zip.SetRootDir(s.dir);
        fs::create_directories(s / kTemp);
        zip.SetTempDir(s / kTemp);
        zip.SetZipFileName(s / "t.zip");
        ASSERT_EQ(zip.Count(), 2);
        zip.SetMaxVolumeSize(64 * 1024);
        zip.SetWriteOptions(zip.WriteOptions() + zwoDiskSpan);
        zip.SetAddOptions(TZAAddOpts{AddDirNames});
        zip.OnProgress = [&](TCustomZipArchiver& z, TZAProgressDetails& d) {
            if (dynamic_cast<TZADLLOpr*>(z.CurrentOperation()) && c.cancelAt(d))
                z.SetCancel(true);
        };
        zip.SetFSpecArgs({"big/c.bin", "src/text.txt"});
        zip.Add();
        EXPECT_EQ(zip.ErrCode(), 2) << zip.ErrMessage();
        EXPECT_EQ(Files(s, "t"), parts);
        for (std::size_t i = 0; i < parts.size(); ++i)
            EXPECT_TRUE(ReadFile(s / parts[i]) == before[i]) << parts[i];
        EXPECT_TRUE(TempIsEmpty(s));
        // Without the cancel the same add works and keeps the old entries.
        zip.OnProgress = nullptr;
        zip.SetFSpecArgs({"big/c.bin", "src/text.txt"});
        zip.Add();
        EXPECT_EQ(zip.ErrCode(), 0) << zip.ErrMessage();
        EXPECT_EQ(zip.Count(), 4);
        EXPECT_TRUE(TempIsEmpty(s));
    }
}

TEST(ZADllOprSets, SpannedAddToAnExeWritesASelfExtractingSet) {
    if (std::string(TARVIK_SFX_STUB_FILE).empty())
        GTEST_SKIP() << "built without the Windows cross compiler";
    Scratch s;
    MakeTree(s);
    // The first part keeps room for the program (about 56 KiB) beside it.
    const auto add = Cli(s, "add -r -p -s 128k n.exe src");
    ASSERT_EQ(add.status, 0) << add.output;
    // The program and its parts n001.zip, n002.zip, ... and nothing else.
    auto programSet = [&s] {
        const std::vector<std::string> files = Files(s, "n");
        bool ok = files.size() >= 3 && files.front() == "n.exe";
        for (std::size_t i = 1; ok && i < files.size(); ++i) {
            const std::string digits = std::to_string(1000 + i).substr(1);
            ok = files[i] == "n" + digits + ".zip";
        }
        return ok ? files : std::vector<std::string>{};
    };
    const std::vector<std::string> files = programSet();
    ASSERT_FALSE(files.empty()) << ::testing::PrintToString(Files(s, "n"));
    for (std::size_t i = 1; i < files.size(); ++i)
        EXPECT_LE(fs::file_size(s / files[i]), 128u * 1024) << files[i];
    EXPECT_LE(fs::file_size(s / "n001.zip") + fs::file_size(s / "n.exe"), 128u * 1024);
    EXPECT_EQ(ReadFile(s / "n.exe").substr(0, 2), "MZ");
    // Read back through the program: list, test, extract.
    const auto list = Cli(s, "list --tsv n.exe");
    EXPECT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("src/noise.bin\t"), std::string::npos) << list.output;
    EXPECT_EQ(Cli(s, "test n.exe").status, 0);
    ASSERT_EQ(Cli(s, "extract -p -d out n.exe").status, 0);
    EXPECT_TRUE(SameTree(s, "src", "out/src"));
    // The parts under Info-ZIP's names are a set that zip -s 0 joins.
    std::string rename = "mkdir iz";
    for (std::size_t i = 1; i < files.size(); ++i) {
        const std::string name =
            i + 1 < files.size() ? "z.z" + std::to_string(100 + i).substr(1) : "z.zip";
        rename += " && cp " + files[i] + " iz/" + name;
    }
    const auto joined =
        Shell(rename + " && cd iz && zip -s 0 z.zip --out j.zip && unzip -tq j.zip", s.dir);
    EXPECT_EQ(joined.status, 0) << joined.output;
    // Adding to the program again keeps it a self-extracting set.
    WriteFile(s / "more/neu.txt", "neu\n");
    const auto again = Cli(s, "add -p n.exe more/neu.txt");
    ASSERT_EQ(again.status, 0) << again.output;
    EXPECT_FALSE(programSet().empty()) << ::testing::PrintToString(Files(s, "n"));
    ASSERT_EQ(Cli(s, "extract -p -d out2 n.exe").status, 0);
    EXPECT_TRUE(SameTree(s, "src", "out2/src"));
    EXPECT_EQ(ReadFile(s / "out2/more/neu.txt"), "neu\n");
    // A spanned add that adds nothing, or that cannot write its set, leaves nothing.
    EXPECT_EQ(Cli(s, "add -s 128k m.exe fehlt.txt").status, 2);
    EXPECT_EQ(Cli(s, "add -p -s 20k m.exe src/noise.bin").status, 2);
    EXPECT_EQ(Files(s, "m"), std::vector<std::string>{"more"});
    EXPECT_TRUE(TempIsEmpty(s));
}
