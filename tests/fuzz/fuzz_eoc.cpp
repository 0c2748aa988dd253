// libFuzzer target: the input is an archive file. Locates and reads its end
// records (with the stub probe and the multi-part search), then reads the
// central headers the end record announces and decodes their names.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/FuzzScratch.h"
#include "zip/ZAEOC.h"
#include "zip/ZAIRec.h"
#include "zip/ZipArchiver.h"

namespace {

const std::string& Folder() {
    static const fuzz::Scratch scratch("fuzz-eoc-");
    return scratch.Folder();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = Folder() + "input.zip";
    if (!fuzz::WriteInput(path, data, size)) {
        return 0;
    }
    TZipArchiver comp;
    comp.Internal().Unattended = true;
    TZAEOC eoc(comp);
    eoc.SetFileName(path);
    const std::int32_t r = eoc.OpenArchivePart(false);
    if (r < 0 || !eoc.IsOpen()) {
        return 0;
    }
    eoc.RecogniseNamingScheme();
    const std::int64_t n = std::min<std::int64_t>(eoc.PlausibleEntryCount(), 200);
    if (eoc.Seek(kSeekBegin, eoc.CentralOffset) < 0) {
        return 0;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        TZAZRec rec(eoc);
        if (rec.ReadCentralHeader() < 0) {
            break;
        }
        (void)rec.FileName();
        (void)rec.FileComment();
        (void)rec.LocalHeaderSize();
    }
    return 0;
}
