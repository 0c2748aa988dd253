// Arbitrary bytes as an archive, tested or extracted through the component:
// Extract -> TZADLLOpr -> loader -> ZE_Exec in the engine -> callbacks.
// The first byte picks test or extract (with or without folder names); a
// password is given so that encrypted entries are tried as well. Nothing may
// be written outside the scratch folder.
//
// The engine is linked into this program, so that its code is instrumented
// and counted like the component's: when the loader opens the engine file,
// the dlopen below hands it this program instead (its engine functions are
// exported), and the loader finds ZE_Exec and the other entry points there
// and checks their versions as it does for the library.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/ZEJob.h"
#include "tests/fuzz/FuzzScratch.h"
#include "zip/ZACore.h"
#include "zip/ZADllLoad.h"
#include "zip/ZipArchiver.h"

namespace {

namespace fs = std::filesystem;

// The engine file the component is pointed at; it need not exist.
constexpr const char* kLinkedEngine = "/nonexistent-tarvik-fuzz/ZAEngine190.so";

using DlopenFn = void* (*)(const char*, int);

struct Setup {
    fuzz::Scratch scratch{"fuzzbridge"};
    TZipArchiver keeper;
    Setup() {
        // Also keeps the engine in the program, although otherwise only the
        // loader's dlsym refers to it.
        if (ZE_Version() != ZE_INTERFACE_VERSION)
            std::abort();
        keeper.SetDLLDirectory(kLinkedEngine);
        keeper.SetUnattended(true);
        // One use held for the whole run: the engine is not looked up again
        // for every input.
        TZACore op(keeper);
        if (TZADLLLoader::Instance().Acquire(op) < 1)
            std::abort();
    }
};

}  // namespace

extern "C" void* dlopen(const char* file, int mode) noexcept {
    static const auto real = reinterpret_cast<DlopenFn>(::dlsym(RTLD_NEXT, "dlopen"));
    if (file != nullptr && std::strcmp(file, kLinkedEngine) == 0)
        return real(nullptr, mode);
    return real(file, mode);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    if (size < 1)
        return 0;
    const std::string archive = setup.scratch.Path("in.zip");
    const std::string out = setup.scratch.Path("out");
    if (!fuzz::WriteInput(archive, data + 1, size - 1))
        return 0;
    std::error_code ec;
    // The output folder stays; only what an input extracted is removed (a new
    // folder for every input costs more than the engine's work on most inputs).
    fs::create_directories(out, ec);
    for (const auto& e : fs::directory_iterator(out, ec))
        fs::remove_all(e.path(), ec);

    TZipArchiver zip;
    zip.SetDLLDirectory(kLinkedEngine);
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
    for (const auto& e : fs::directory_iterator(setup.scratch.Folder(), ec)) {
        const std::string name = e.path().filename().string();
        if (name != "in.zip" && name != "out")
            std::abort();
    }
    return 0;
}
