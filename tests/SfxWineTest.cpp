// The Windows stub itself, run under wine: programs converted by the
// component (tarvik-cli sfx) and programs put together from hand-written
// archives extract in the stub's automatic mode and are judged by the files
// they leave and their exit status (0 done, 1 entries failed, 2 no usable
// archive). Wine runs them without a display, so every window the stub would
// show fails at once instead of waiting for an answer. Skipped where wine or
// the cross-compiled stub is missing (CI installs neither).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "SfxTestSupport.h"
#include "sfx_config.h"
#include "sfx_result.h"
#include "sfx_source.h"
#include "sfxblock.h"

using sfxtest::Bytes;
using sfxtest::quote;
namespace fs = std::filesystem;

namespace {

const std::string kCli = TARVIK_CLI_PATH;
const std::string kStub = TARVIK_SFX_STUB_FILE;
constexpr unsigned kAuto = SFX_OPT_AUTORUN | SFX_OPT_NO_SUCCESS_MSG;

// The wine prefix: $WINEPREFIX when set, else one of the tests' own that is
// kept between runs (making a prefix takes a while).
std::string winePrefix() {
    const char* set = std::getenv("WINEPREFIX");
    return set != nullptr && *set != 0
               ? std::string(set)
               : (fs::temp_directory_path() / ("tarvik-wine-" + std::to_string(::getuid())))
                     .string();
}

// Runs a program under wine, without a display, from its own folder; what
// wine says goes to `log` (wine's server inherits it, so no pipe).
int runWine(const fs::path& program, const fs::path& log = "/dev/null") {
    return sfxtest::run(
        "cd " + quote(program.parent_path()) +
        " && env -u DISPLAY -u WAYLAND_DISPLAY WINEDEBUG=-all WINEPREFIX=" + quote(winePrefix()) +
        " wine " + quote(program) + " >" + quote(log) + " 2>&1");
}

// The Windows name of a local path (wine maps drive Z: to the root).
std::string windowsPath(const fs::path& p) {
    std::string s = "Z:" + fs::absolute(p).string();
    for (char& c : s) {
        c = c == '/' ? '\\' : c;
    }
    return s;
}

// Sets the option bits and the overwrite mode in a converted program's block.
void setOptions(const fs::path& program, unsigned flags, unsigned overwrite = SFX_OVR_ALWAYS) {
    Bytes b = sfxtest::readFile(program);
    SfxSource src;
    SfxMemorySource mem;
    sfx_source_memory(&src, &mem, b.data(), b.size());
    std::uint64_t end = 0;
    ASSERT_EQ(sfx_image_end(&src, &end), SFX_OK);
    ASSERT_EQ(sfx_get32(b.data() + end), SFX_BLOCK_SIGNATURE);
    const unsigned old = sfx_get16(b.data() + end + SFX_BLOCK_OFF_FLAGS);
    const unsigned kept = (old & SFX_FLAG_TABLE_DEFLATED) | flags;
    b[end + SFX_BLOCK_OFF_FLAGS] = static_cast<std::uint8_t>(kept);
    b[end + SFX_BLOCK_OFF_FLAGS + 1] = static_cast<std::uint8_t>(kept >> 8);
    b[end + SFX_BLOCK_OFF_OVERWRITE] = static_cast<std::uint8_t>(overwrite);
    b[end + SFX_BLOCK_OFF_OVERWRITE + 1] = 0;
    sfxtest::writeFile(program, b);
}

// Built stub + block + archive.
fs::path makeProgram(const fs::path& path, const Bytes& zip, const sfxtest::BlockSpec& spec) {
    const Bytes stub = sfxtest::readFile(kStub);
    Bytes program(stub.begin() + 4, stub.end());
    sfxtest::append(program, sfxtest::configBlock(spec));
    sfxtest::append(program, zip);
    fs::create_directories(path.parent_path());
    sfxtest::writeFile(path, program);
    return path;
}

// Files by relative name with their bytes, and the folders (as name + "/").
std::map<std::string, Bytes> tree(const fs::path& root) {
    std::map<std::string, Bytes> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).string();
        if (e.is_directory()) {
            out[rel + "/"] = {};
        } else if (e.path().extension() != ".exe") {
            out[rel] = sfxtest::readFile(e.path());
        }
    }
    return out;
}

std::string text(const fs::path& p) {
    const Bytes b = sfxtest::readFile(p);
    return std::string(b.begin(), b.end());
}

class SfxWine : public ::testing::Test {
protected:
    // Whether wine runs the stub here, found out once: "" or why not.
    static const std::string& missing() {
        static const std::string why = [] {
            if (kStub.empty() || !fs::exists(kStub)) {
                return std::string("the Windows stub was not built (no mingw-w64)");
            }
            if (!sfxtest::haveTool("wine")) {
                return std::string("wine is not installed");
            }
            // Debian's wine says so when it lacks the 32-bit part (wine32).
            sfxtest::TempDir probe;
            const fs::path p = makeProgram(probe / "probe.exe", {}, {});
            if (runWine(p, probe / "wine.log") != 2) {
                const Bytes said = sfxtest::readFile(probe / "wine.log");
                const std::string text(said.begin(), said.end());
                if (text.find("wine32") != std::string::npos ||
                    text.find("Bad EXE format") != std::string::npos) {
                    return "wine cannot run 32-bit programs: " + text;
                }
            }
            return std::string();
        }();
        return why;
    }
    void SetUp() override {
        if (!missing().empty()) {
            GTEST_SKIP() << missing();
        }
    }
};

}  // namespace

// Archives written by the component, stored and deflated, with folders, an
// empty file, an empty folder, a name with umlauts (UTF-8) and files larger
// than 4 MiB, converted with and without an icon: extracted byte for byte
// into the default folder. The component writes "./" for the folder it was
// given; that entry is the target folder and no failure.
TEST_F(SfxWine, ComponentProgramsExtractByteForByte) {
    sfxtest::TempDir dir;
    const fs::path src = dir / "src";
    fs::create_directories(src / "sub" / "tiefer");
    fs::create_directories(src / "leerordner");
    std::string lines;
    for (int i = 0; i < 600000; ++i) {
        lines += "Zeile " + std::to_string(i) + "\n";
    }
    sfxtest::writeFile(src / "sub" / "tiefer" / "text.txt", Bytes(lines.begin(), lines.end()));
    sfxtest::writeFile(src / "sub" / "zufall.bin", sfxtest::randomBytes(4 * 1024 * 1024 + 77, 7));
    sfxtest::writeFile(src / "Größe äöü.txt", Bytes{'u', 't', 'f', '8'});
    sfxtest::writeFile(src / "leer.txt", {});
    struct Case {
        const char* name;
        const char* addOptions;
        bool icon;
    };
    const Case cases[] = {{"stored", "-0", false}, {"deflated", "-9", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path archive = dir / (std::string(c.name) + ".zip");
        const fs::path program = dir / (std::string(c.name) + ".exe");
        const fs::path target = dir / (std::string("Ziel ") + c.name);
        ASSERT_EQ(sfxtest::run("cd " + quote(src) + " && " + quote(kCli) + " add -r -p -E " +
                               c.addOptions + " " + quote(archive) + " . >/dev/null 2>&1"),
                  0);
        const std::string icon =
            c.icon ? " --icon " + quote(fs::path(TARVIK_SOURCE_DIR) / "sfx/win/sfx.ico") : "";
        ASSERT_EQ(sfxtest::run(quote(kCli) + " sfx --dir " + quote(windowsPath(target)) +
                               " --caption 'Tarvik-Test'" + icon + " " + quote(archive) +
                               " >/dev/null 2>&1"),
                  0);
        setOptions(program, kAuto | SFX_OPT_CREATE_EMPTY_DIRS);
        EXPECT_EQ(runWine(program), 0);
        EXPECT_EQ(tree(target), tree(src));
    }
}

// Names in the OEM code page (CP850), folders made on the way, the program's own folder
// as the default, and both overwrite modes against existing (also
// read-only) files.
TEST_F(SfxWine, NamesDefaultFolderAndOverwrite) {
    sfxtest::TempDir dir;
    const Bytes zip = sfxtest::makeZip({{"Gr\x94\xe1"
                                         "e.txt",
                                         {'c', 'p'}},
                                        {"a/b/c.txt", {'n', 'e', 'u'}, true},
                                        {"alt.txt", {'n', 'e', 'u'}}});
    // No default folder: the folder the program is in.
    const fs::path here = dir / "Programm ä";
    sfxtest::BlockSpec automatic;
    automatic.flags = kAuto;
    EXPECT_EQ(runWine(makeProgram(here / "p.exe", zip, automatic)), 0);
    EXPECT_EQ(text(here / "Größe.txt"), "cp");
    EXPECT_EQ(text(here / "a" / "b" / "c.txt"), "neu");

    struct Case {
        const char* name;
        unsigned overwrite;
        const char* expected;
    };
    const Case cases[] = {{"never", SFX_OVR_NEVER, "alt"}, {"always", SFX_OVR_ALWAYS, "neu"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target = dir / (std::string("Ziel-") + c.name);
        fs::create_directories(target);
        sfxtest::writeFile(target / "alt.txt", {'a', 'l', 't'});
        fs::permissions(target / "alt.txt", fs::perms::owner_write, fs::perm_options::remove);
        sfxtest::BlockSpec spec;
        spec.flags = kAuto;
        spec.overwrite = c.overwrite;
        spec.defaultDir = windowsPath(target);
        EXPECT_EQ(runWine(makeProgram(dir / (std::string(c.name) + ".exe"), zip, spec)), 0);
        EXPECT_EQ(text(target / "alt.txt"), c.expected);
        EXPECT_EQ(text(target / "a" / "b" / "c.txt"), "neu");
    }
}

// Entries that would land outside the target are refused (exit 1, or 0 with
// "success always") while the safe ones are written; a program cut short, or
// encrypted entries without anyone to ask for the password, are no success.
TEST_F(SfxWine, UnsafeNamesDamageAndPasswords) {
    sfxtest::TempDir dir;
    const Bytes x{'x'};
    const Bytes zip = sfxtest::makeZip({{"../evil1.txt", x},
                                        {"..\\evil2.txt", x},
                                        {"/evil3.txt", x},
                                        {"C:/evil4.txt", x},
                                        {"C:evil5.txt", x},
                                        {"a/../../evil6.txt", x},
                                        {"\\\\localhost\\c$\\evil7.txt", x},
                                        {".../evil8.txt", x},
                                        {"ok/fine.txt", x, true}});
    struct Case {
        const char* name;
        unsigned flags;
        int exit;
    };
    const Case cases[] = {{"failure", kAuto, 1},
                          {"success always", kAuto | SFX_OPT_SUCCESS_ALWAYS, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path root = dir / c.name;
        const fs::path target = root / "in" / "tief";
        sfxtest::BlockSpec spec;
        spec.flags = c.flags;
        spec.defaultDir = windowsPath(target);
        const fs::path program = makeProgram(root / "u.exe", zip, spec);
        EXPECT_EQ(runWine(program), c.exit);
        EXPECT_EQ(
            tree(root),
            (std::map<std::string, Bytes>{
                {"in/", {}}, {"in/tief/", {}}, {"in/tief/ok/", {}}, {"in/tief/ok/fine.txt", x}}));
    }

    const Bytes whole = sfxtest::readFile(dir / "failure" / "u.exe");
    sfxtest::writeFile(dir / "cut.exe", Bytes(whole.begin(), whole.end() - 30));
    EXPECT_EQ(runWine(dir / "cut.exe"), 2);

    const fs::path src = dir / "geheim";
    fs::create_directories(src);
    sfxtest::writeFile(src / "g.txt", {'g'});
    ASSERT_EQ(sfxtest::run("cd " + quote(src) + " && " + quote(kCli) +
                           " add -P Kennwort1 ../g.zip g.txt >/dev/null 2>&1"),
              0);
    ASSERT_EQ(sfxtest::run(quote(kCli) + " sfx --dir " + quote(windowsPath(dir / "g-out")) + " " +
                           quote(dir / "g.zip") + " >/dev/null 2>&1"),
              0);
    setOptions(dir / "g.exe", kAuto);
    EXPECT_EQ(runWine(dir / "g.exe"), 1);
    EXPECT_FALSE(fs::exists(dir / "g-out" / "g.txt"));
}

// A self-extracting set written by the component (parts a001.zip ... beside
// a.exe, a large entry running across parts): extracted whole; with a part
// missing, nothing is written and the run reports no usable archive.
TEST_F(SfxWine, SpannedSetExtractsAcrossParts) {
    sfxtest::TempDir dir;
    const fs::path src = dir / "src";
    fs::create_directories(src / "sub");
    sfxtest::writeFile(src / "zufall.bin", sfxtest::randomBytes(300000, 3));
    std::string lines;
    for (int i = 0; i < 40000; ++i) {
        lines += "Zeile " + std::to_string(i) + "\n";
    }
    sfxtest::writeFile(src / "sub" / "text.txt", Bytes(lines.begin(), lines.end()));
    const fs::path set = dir / "set";
    fs::create_directories(set);
    ASSERT_EQ(sfxtest::run("cd " + quote(src) + " && " + quote(kCli) + " add -r -p " +
                           quote(set / "a.zip") + " . >/dev/null 2>&1"),
              0);
    const fs::path target = dir / "Ziel";
    ASSERT_EQ(
        sfxtest::run(quote(kCli) + " sfx --volume-size 150k --dir " + quote(windowsPath(target)) +
                     " " + quote(set / "a.zip") + " >/dev/null 2>&1"),
        0);
    ASSERT_TRUE(fs::exists(set / "a003.zip"));  // at least three parts
    setOptions(set / "a.exe", kAuto);
    EXPECT_EQ(runWine(set / "a.exe"), 0);
    EXPECT_EQ(tree(target), tree(src));

    fs::remove_all(target);
    fs::remove(set / "a002.zip");
    EXPECT_EQ(runWine(set / "a.exe"), 2);
    EXPECT_FALSE(fs::exists(target / "zufall.bin"));
}
