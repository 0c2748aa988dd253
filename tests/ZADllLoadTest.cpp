// The engine loader: where the library comes from, which files it refuses,
// use counting between components, and the packed engine in the program.
#include <gtest/gtest.h>

#include "FakeDialog.h"
#include "ZADllTestSupport.h"
#include "zip/ZACore.h"
#include "zip/ZADllLoad.h"
#include "zip/ZipArchiver.h"

using namespace bridgetest;

namespace {

struct Loaded {
    int acquired;
    std::string tried, extracted;
    bool extractedExisted;  // the unpacked file while the engine was loaded
    int errCode;
};

// Acquires and releases one use with the given DLLDirectory.
Loaded TryLoad(const std::string& dllDirectory) {
    auto& loader = TZADLLLoader::Instance();
    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetDLLDirectory(dllDirectory);
    Loaded r{};
    zip.RunOperation([&] {
        TZACore op(zip);
        r.acquired = loader.Acquire(op);
        r.tried = loader.TriedPath();
        r.extracted = loader.ExtractedPath();
        r.extractedExisted = !r.extracted.empty() && fs::exists(r.extracted);
        if (r.acquired > 0) {
            EXPECT_TRUE(loader.Loaded());
            EXPECT_EQ(loader.Version(), 190);
            EXPECT_GE(loader.PrivVersion(), 1900111);
            EXPECT_FALSE(loader.LibraryName().empty());
            EXPECT_EQ(loader.Release(zip, &op), 0);
        }
    });
    r.errCode = zip.ErrCode();
    EXPECT_FALSE(loader.Loaded());
    return r;
}

}  // namespace

TEST(ZADllLoad, WhereTheLibraryComesFrom) {
    Scratch s;
    const std::string engineDir = fs::path(TARVIK_ENGINE_PATH).parent_path().string();
    fs::create_symlink("/nonexistent/lib.so", s / "dangling.so");
    WriteFile(s / "junk.so", "no library");
    struct Case {
        std::string dir;
        bool loads;
        std::string tried;  // "" = the unpacked engine
        int errCode;
    };
    const Case cases[] = {
        {TARVIK_ENGINE_PATH, true, TARVIK_ENGINE_PATH, 0},
        {engineDir, true, engineDir + "/ZAEngine190.so", 0},
        {engineDir + "/", true, engineDir + "/ZAEngine190.so", 0},
        // The system's search comes first; it finds the library only when this
        // process already holds it (dlclose keeps it); else the packed engine stands in.
        {"/nonexistent/folder", true, "*", 0},
        {"><", true, "", 0},
        {s / "junk.so", false, s / "junk.so", 19},
        {s / "dangling.so", false, s / "dangling.so", 19},
        {"/nonexistent/ZAEngine190.SO", false, "/nonexistent/ZAEngine190.SO", 19},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        const Loaded r = TryLoad(c.dir);
        EXPECT_EQ(r.acquired > 0, c.loads);
        EXPECT_EQ(r.errCode, c.errCode);
        if (c.tried == "*") {
            EXPECT_TRUE(r.tried == r.extracted || r.tried == "ZAEngine190.so") << r.tried;
        } else if (c.tried.empty()) {
            EXPECT_FALSE(r.extracted.empty());
            EXPECT_EQ(r.tried, r.extracted);
            // Loading removed the unpacked copy (the mapping stays valid).
            EXPECT_FALSE(r.extractedExisted);
            EXPECT_FALSE(fs::exists(r.extracted));
        } else {
            EXPECT_EQ(r.tried, c.tried);
        }
    }
}

TEST(ZADllLoad, LibraryWithoutTheEngineExportsIsRefused) {
    Scratch s;
    // A real shared library, but not the engine: refused as old or corrupt.
    const auto found =
        Shell("ldconfig -p | awk '/libz\\.so\\.1 .*x86-64/ {print $NF; exit}'", s.dir);
    const std::string libz = found.output.substr(0, found.output.find('\n'));
    if (libz.empty())
        GTEST_SKIP() << "no libz.so.1";
    fs::create_symlink(libz, s / "notengine.so");
    const Loaded r = TryLoad(s / "notengine.so");
    EXPECT_EQ(r.acquired, -1);
    EXPECT_EQ(r.errCode, 18);
}

TEST(ZADllLoad, UsesAreCountedPerComponent) {
    auto& loader = TZADLLLoader::Instance();
    TZipArchiver a, b;
    for (TZipArchiver* z : {&a, &b})
        z->SetDLLDirectory(TARVIK_ENGINE_PATH);
    TZACore opA(a), opB(b);
    EXPECT_EQ(loader.Acquire(opA), 1);
    EXPECT_EQ(loader.Acquire(opA), 2);
    EXPECT_EQ(loader.Acquire(opB), 1);
    EXPECT_TRUE(loader.IsUser(a));
    EXPECT_EQ(loader.Release(a), 1);
    EXPECT_EQ(loader.Release(a), 0);
    EXPECT_FALSE(loader.IsUser(a));
    EXPECT_EQ(loader.Release(a), -1);  // held no use any more
    EXPECT_TRUE(loader.Loaded());      // b still uses it
    loader.Forget(b);
    EXPECT_FALSE(loader.Loaded());
    EXPECT_FALSE(loader.IsUser(b));
}

TEST(ZADllLoad, PackedEngineMustBeSound) {
    auto& loader = TZADLLLoader::Instance();
    const auto real = EmbeddedEngineResource();
    ASSERT_GE(real.size(), 50000u);
    ASSERT_LT(real.size(), 16u * 1024 * 1024);
    std::vector<std::uint8_t> damaged(real.begin(), real.end());
    damaged[damaged.size() / 2] ^= 0xFF;
    std::vector<std::uint8_t> oldVersion(real.begin(), real.end());
    oldVersion[0] = 0x4E;  // 1900110 and below are not used
    oldVersion[1] = 0xFE;
    oldVersion[2] = 0x1C;
    oldVersion[3] = 0x00;
    const std::vector<std::uint8_t> tiny(real.begin(), real.begin() + 1000);
    struct Case {
        const char* name;
        std::span<const std::uint8_t> res;
        bool loads;
    };
    const Case cases[] = {
        {"real", real, true},
        {"damaged", damaged, false},
        {"old version", oldVersion, false},
        {"too small", tiny, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        loader.SetEmbeddedResource(c.res);
        const Loaded r = TryLoad("><");
        EXPECT_EQ(r.acquired > 0, c.loads);
        if (!c.loads) {
            EXPECT_EQ(r.errCode, 19);
        }
    }
    loader.SetEmbeddedResource(std::nullopt);
    // No temporary engine files are left behind.
    EXPECT_TRUE(loader.ExtractedPath().empty());
}

TEST(ZADllLoad, DllLoadKeepsTheEngineUntilUnsetOrDestroyed) {
    auto& loader = TZADLLLoader::Instance();
    ASSERT_FALSE(loader.Loaded());
    Scratch s;
    WriteFile(s / "in/a.txt", Content(1, 5000));
    {
        TZipArchiver a, b;
        for (TZipArchiver* z : {&a, &b}) {
            z->SetUnattended(true);
            z->SetDLLDirectory(TARVIK_ENGINE_PATH);
        }
        a.SetDLL_Load(true);
        EXPECT_TRUE(a.DLL_Load());
        EXPECT_EQ(loader.UseCount(a), 1);
        EXPECT_TRUE(loader.Loaded());
        a.SetDLL_Load(true);  // already held: no second use
        EXPECT_EQ(loader.UseCount(a), 1);

        // A job of another component borrows the loaded engine and gives its use back.
        b.SetZipFileName(s / "b.zip");
        b.SetRootDir(s / "in");
        b.FSpecArgs() = {"a.txt"};
        b.Add();
        EXPECT_EQ(b.ErrCode(), 0);
        EXPECT_EQ(b.SuccessCount(), 1);
        EXPECT_FALSE(b.DLL_Load());
        EXPECT_EQ(loader.UseCount(b), 0);
        EXPECT_TRUE(loader.Loaded());

        a.SetDLL_Load(false);
        EXPECT_FALSE(a.DLL_Load());
        EXPECT_FALSE(loader.IsUser(a));
        EXPECT_FALSE(loader.Loaded());

        // Set while loading the stored form: applied when loading ends.
        b.BeginLoading();
        b.SetDLL_Load(true);
        EXPECT_FALSE(loader.Loaded());
        b.EndLoading();
        EXPECT_TRUE(b.DLL_Load());
        EXPECT_TRUE(loader.IsUser(b));
    }
    // Destroying b gave its use up: nothing keeps the engine loaded.
    EXPECT_FALSE(loader.Loaded());

    // A failing load leaves DLL_Load off and reports the error.
    TZipArchiver c;
    c.SetUnattended(true);
    c.SetDLLDirectory(s / "missing.so");
    c.SetDLL_Load(true);
    EXPECT_FALSE(c.DLL_Load());
    EXPECT_EQ(c.ErrCode(), 19);
    EXPECT_FALSE(loader.Loaded());
}
