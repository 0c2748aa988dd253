// Every failure of tarvik-cli, command by command: the exit status, exactly
// one message on standard error with its details filled in, valid UTF-8, in
// the language chosen by --language or else by the user's locale.
#include <gtest/gtest.h>

#include <algorithm>

#include "ZADllTestSupport.h"
#include "platform/CodePage.h"

using namespace bridgetest;

namespace {

const std::string kCli = Quote(TARVIK_CLI_PATH);

// Standard error only (standard output goes away) and the exit status.
ztest::ShellResult Stderr(const Scratch& s, const std::string& env, const std::string& args) {
    return Shell(env + " " + kCli + " " + args + " 2>&1 >/dev/null", s.dir);
}

void MakeFiles(const Scratch& s) {
    WriteFile(s / "a.txt", "A");
    WriteFile(s / "n.zip", "kein Archiv, nur ein Text, der länger ist als ein Endsatz.\n");
    WriteFile(s / "bad.ico", "kein Symbol");
    Shell("zip -q a.zip a.txt && zip -q -P pw p.zip a.txt && zip -q q.zip a.txt", s.dir);
    // An entry that climbs out of the target, and a link that points out of it.
    Shell(
        "python3 -c \"import zipfile\n"
        "with zipfile.ZipFile('evil.zip', 'w') as z: z.writestr('../evil.txt', 'x')\n"
        "i = zipfile.ZipInfo('ln'); i.create_system = 3; i.external_attr = 0o120777 << 16\n"
        "with zipfile.ZipFile('link.zip', 'w') as z: z.writestr(i, '../../etc/passwd')\"",
        s.dir);
}

}  // namespace

TEST(CliMessages, EveryFailureIsSaidOnceInTheChosenLanguage) {
    struct Case {
        const char* kind;
        const char* args;
        int status;
        const char* names;  // what the message must name ("" = nothing to check)
    };
    const Case cases[] = {
        {"missing archive", "list missing.zip", 2, "missing.zip"},
        {"missing archive", "extract missing.zip", 2, "missing.zip"},
        {"missing archive", "test missing.zip", 2, "missing.zip"},
        {"missing archive", "delete missing.zip a.txt", 2, "missing.zip"},
        {"missing archive", "comment missing.zip x", 2, "missing.zip"},
        {"missing archive", "sfx missing.zip", 2, "missing.zip"},
        {"missing archive", "unsfx missing.exe", 2, "missing.exe"},
        {"missing archive", "span --volume-size 64k missing.zip", 2, "missing.zip"},
        {"missing archive", "join missing.zip out.zip", 2, "missing.zip"},
        {"not a zip", "list n.zip", 2, "n.zip"},
        {"not a zip", "extract n.zip", 2, "n.zip"},
        {"not a zip", "test n.zip", 2, "n.zip"},
        {"not a zip", "add n.zip a.txt", 2, "n.zip"},
        {"not a zip", "delete n.zip a.txt", 2, "n.zip"},
        {"not a zip", "comment n.zip x", 2, "n.zip"},
        {"not a zip", "sfx n.zip", 2, "n.zip"},
        {"unmatched name", "extract -d o a.zip nosuch.txt", 2, "nosuch.txt"},
        {"unmatched name", "test a.zip nosuch.txt", 2, "nosuch.txt"},
        {"unmatched name", "delete a.zip nosuch.txt", 2, "nosuch.txt"},
        {"unmatched name", "add q.zip nosuch.txt", 2, "nosuch.txt"},
        {"unsafe name", "extract -d o evil.zip", 2, "../evil.txt"},
        {"unsafe name", "extract -d o link.zip", 2, "ln"},
        {"wrong password", "extract -d o -P falsch p.zip", 2, "a.txt"},
        {"wrong password", "test -P falsch p.zip", 2, "a.txt"},
        {"unwritable target", "extract -d a.txt/o a.zip", 2, "a.txt/o"},
        {"unwritable target", "add a.txt/x.zip a.txt", 2, "a.txt/x.zip"},
        {"bad option", "add -Z x.zip a.txt", 3, "-Z"},
        {"bad option", "extract -Z a.zip", 3, "-Z"},
        {"bad option", "test -Z a.zip", 3, "-Z"},
        {"bad option", "list --zzz a.zip", 3, "--zzz"},
        {"bad option", "delete a.zip", 3, ""},
        {"bad option", "sfx --zzz a.zip", 3, "--zzz"},
        {"bad option", "span --zzz a.zip", 3, "--zzz"},
        {"bad option", "nosuchcommand", 3, "nosuchcommand"},
        {"missing stub", "sfx --stub /nonexist/stub.bin a.zip", 2, "/nonexist/stub.bin"},
        {"missing icon", "sfx --icon bad.ico a.zip", 2, "a.zip"},
    };
    // The same failure in four settings: the locale alone, and --language.
    const char* const kGerman = "LANG=de_DE.UTF-8 LC_ALL= LC_MESSAGES=";
    const char* const kPlain = "LANG=C LC_ALL= LC_MESSAGES=";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + ": " + c.args);
        Scratch s;
        MakeFiles(s);
        const auto german = Stderr(s, kGerman, c.args);
        const auto english = Stderr(s, kPlain, c.args);
        const auto chosenGerman = Stderr(s, kPlain, std::string("--language DE ") + c.args);
        const auto chosenEnglish = Stderr(s, kGerman, std::string("--language US ") + c.args);
        for (const auto* r : {&german, &english, &chosenGerman, &chosenEnglish}) {
            EXPECT_EQ(r->status, c.status) << r->output;
            EXPECT_EQ(std::count(r->output.begin(), r->output.end(), '\n'), 1) << r->output;
            EXPECT_TRUE(r->output.starts_with("tarvik-cli: ")) << r->output;
            EXPECT_NE(r->output.find(c.names), std::string::npos) << r->output;
            EXPECT_EQ(r->output.find("%s"), std::string::npos) << r->output;
            EXPECT_EQ(r->output.find("%d"), std::string::npos) << r->output;
            EXPECT_TRUE(platform::IsValidUtf8(r->output)) << r->output;
        }
        EXPECT_EQ(german.output, chosenGerman.output);
        EXPECT_EQ(english.output, chosenEnglish.output);
        EXPECT_NE(german.output, english.output);
    }
}

// The summary lines count the same things: a folder entry is one of the
// entries chosen and one of those tested.
TEST(CliMessages, SummaryCountsAgree) {
    Scratch s;
    WriteFile(s / "in/a.txt", "A");
    WriteFile(s / "in/d/b.txt", "B");
    ASSERT_EQ(Shell("cd in && zip -qr ../t.zip .", s.dir).status, 0);  // 2 files, 1 folder
    const auto test = Shell(kCli + " --language DE test t.zip", s.dir);
    EXPECT_EQ(test.status, 0);
    EXPECT_EQ(test.output, "3 von 3 Einträgen geprüft\n");
    const auto extract = Shell(kCli + " --language US extract -d o t.zip", s.dir);
    EXPECT_EQ(extract.output, "3 of 3 entries extracted\n");
    EXPECT_EQ(ReadFile(s / "o/d/b.txt"), "B");
}

// Names with control characters or bytes that are not UTF-8 reach the
// terminal escaped, as list --tsv writes them.
TEST(CliMessages, NamesAreEscapedOnStandardError) {
    Scratch s;
    MakeFiles(s);
    const auto r = Stderr(s, "LANG=C", "extract -d o a.zip \"$(printf 'bad\\tname\\001\\377')\"");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("bad\\tname\\x01"), std::string::npos) << r.output;
    EXPECT_TRUE(platform::IsValidUtf8(r.output));
}

// The help follows the language choice and lists the exit statuses.
TEST(CliMessages, HelpFollowsTheLanguageAndListsTheExitStatuses) {
    Scratch s;
    const auto de = Shell("LANG=de_DE.UTF-8 " + kCli + " --help", s.dir);
    const auto en = Shell("LANG=de_DE.UTF-8 " + kCli + " --language US --help", s.dir);
    EXPECT_NE(de.output.find("Exit-Status"), std::string::npos);
    EXPECT_NE(de.output.find("  3  falscher Aufruf"), std::string::npos);
    EXPECT_NE(en.output.find("Exit status"), std::string::npos);
    EXPECT_NE(en.output.find("  3  wrong usage"), std::string::npos);
    EXPECT_EQ(en.output.find("Befehle"), std::string::npos);
}
