// Opens the input as an archive through the component, as the window does,
// and walks every entry: decoded name and comment, the extra records the
// component reads, lookups by name. Nothing may read outside the file's
// bytes, hang, or allocate by a size the input claims.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/fuzz/FuzzScratch.h"
#include "zip/ZACenDir.h"
#include "zip/ZAIRec.h"
#include "zip/ZALister.h"
#include "zip/ZAZipFile.h"
#include "zip/ZipArchiver.h"

namespace {

const std::string& TempPath() {
    static const fuzz::Scratch scratch("fuzz-open-");
    static const std::string path = scratch.Path("input.zip");
    return path;
}

void Walk(TZipArchiver& zip) {
    const int n = zip.Count();
    for (int i = 0; i < n; ++i) {
        auto e = zip.DirEntry(i);
        if (!e) {
            __builtin_trap();
        }
        const std::string name = e->FileName();
        (void)e->FileComment();
        (void)e->NameEncoding();
        for (std::uint16_t tag : {0x0001, 0x000A, 0x5455, 0x6375, 0x7075}) {
            (void)e->ExtraFieldData(tag);
        }
        (void)e->CompressedSize();
        (void)e->UncompressedSize();
        if (TZALister* lister = zip.Lister()) {
            std::int32_t index = -1;
            if (!name.empty() && lister->CurrentZip().FindName(name, index, false) == nullptr) {
                __builtin_trap();  // every listed name must be found again
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = TempPath();
    if (!fuzz::WriteInput(path, data, size)) {
        return 0;
    }
    TZipArchiver zip;
    zip.SetUnattended(true);
    zip.SetUseUTF8(true);
    zip.SetUseDirOnlyEntries(true);
    zip.SetZipFileName(path);
    Walk(zip);
    // Another decoding of the same directory.
    zip.SetEncoding(zeoOEM);
    Walk(zip);
    zip.SetEncoding(zeoAuto);
    return 0;
}
