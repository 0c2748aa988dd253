// Arbitrary bytes as an archive, tested or extracted through the component:
// Extract -> TZADLLOpr -> loader -> ZE_Exec in the engine library -> callbacks.
// The first byte picks test or extract (with or without folder names); a
// password is given so that encrypted entries are tried as well. Nothing may
// be written outside the scratch folder.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/TempFiles.h"
#include "zip/ZACore.h"
#include "zip/ZADllLoad.h"
#include "zip/ZipArchiver.h"

namespace {

namespace fs = std::filesystem;

struct Setup {
    std::string dir = platform::CreateTempFolder("", "fuzzbridge");
    TZipArchiver keeper;
    Setup() {
        keeper.SetDLLDirectory(TARVIK_ENGINE_PATH);
        keeper.SetUnattended(true);
        // One use held for the whole run: the library is not loaded and
        // unloaded for every input.
        TZACore op(keeper);
        if (TZADLLLoader::Instance().Acquire(op) < 1)
            std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    if (size < 1)
        return 0;
    const std::string archive = setup.dir + "in.zip";
    const std::string out = setup.dir + "out";
    {
        std::ofstream f(archive, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out, ec);

    TZipArchiver zip;
    zip.SetDLLDirectory(TARVIK_ENGINE_PATH);
    zip.SetUnattended(true);
    zip.SetPassword("pw");
    zip.SetPasswordReqCount(1);
    zip.SetZipFileName(archive);
    TZAExtrOpts opts;
    switch (data[0] % 3) {
        case 0:
            opts = {ExtrTest};
            break;
        case 1:
            opts = {ExtrDirNames, ExtrOverWrite};
            break;
        default:
            opts = {ExtrOverWrite};
            break;
    }
    zip.SetExtrOptions(opts);
    zip.SetExtrBaseDir(out);
    zip.Extract();
    // Whatever the input, only the scratch folder may have changed.
    for (const auto& e : fs::directory_iterator(setup.dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name != "in.zip" && name != "out")
            std::abort();
    }
    return 0;
}
