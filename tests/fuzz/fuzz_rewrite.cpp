// The component's own rewrites of an archive, without the engine: deleting
// entries (every kept entry's local header is checked against its central
// header and copied with its data: CheckLocalHeader, CopyEntryData) and
// changing the archive comment in place. The first byte picks the change,
// the rest is the archive. Whatever the input, the rewrite either succeeds
// or fails cleanly, and no temporary file is left beside the archive.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/fuzz/FuzzScratch.h"
#include "zip/ZipArchiver.h"

namespace {

const fuzz::Scratch& Scratch() {
    static const fuzz::Scratch scratch("fuzz-rewrite-");
    return scratch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::string path = Scratch().Path("input.zip");
    if (!fuzz::WriteInput(path, data + 1, size - 1)) {
        return 0;
    }
    {
        TZipArchiver zip;
        zip.SetUnattended(true);
        zip.SetZipFileName(path);
        if (zip.Count() > 0 || (data[0] & 3) == 1) {
            switch (data[0] & 3) {
                case 1:
                    zip.SetZipComment("Kommentar äöü");
                    break;
                case 2:
                    zip.SetHowToDelete(htdFinal);
                    zip.SetFSpecArgs({"*.txt"});
                    zip.Delete();
                    break;
                default:
                    zip.SetHowToDelete(htdFinal);
                    zip.SetFSpecArgs({"*.bin", "sub/*"});
                    zip.Delete();
                    break;
            }
        }
    }
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(Scratch().Folder(), ec)) {
        if (e.path().filename() != "input.zip") {
            __builtin_trap();  // a temporary file was left behind
        }
    }
    return 0;
}
