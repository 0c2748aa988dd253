// Multi-part sets through the component, without the engine: the input is a
// set of parts (first byte: bits 0-2 the number of parts before the last,
// bits 3-4 the operation; then their sizes, 16 bits each, the parts and the
// last part), written as set.z01, set.z02, ..., set.zip. The set is opened
// and every entry's name read across the parts; then it is joined into one
// archive (bits 3-4 = 0), spanned into small parts (1), joined and the result
// spanned again (3). With bits 3-4 = 2 the last part is a self-extracting
// program, set.exe, converted back to an archive (set.zip). Whatever the input, the operation
// succeeds or fails cleanly and leaves no file but the ones it was asked to
// write.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzScratch.h"
#include "zip/ZAIRec.h"
#include "zip/ZipArchiver.h"

namespace {

namespace fs = std::filesystem;

const fuzz::Scratch& Scratch() {
    static const fuzz::Scratch scratch("fuzz-sets-");
    // Anything an operation moves to the trash goes to a trash of the run's own.
    static const fuzz::Scratch trash("fuzz-sets-trash-");
    static const bool home = ::setenv("XDG_DATA_HOME", trash.Folder().c_str(), 1) == 0;
    (void)home;
    return scratch;
}

void Spanned(TZipArchiver& zip) {
    zip.SetMaxVolumeSize(1024);
    zip.SetMinFreeVolumeSize(1024);
    TZASpanOpts span = zip.SpanOptions();
    span.exclude(spNoVolumeName).include(spCompatName);
    zip.SetSpanOptions(span);
    zip.Span(Scratch().Path("spanned.zip"));
}

void Clear() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Scratch().Folder(), ec)) {
        fs::remove_all(e.path(), ec);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint32_t before = data[0] & 7u;
    const int operation = (data[0] >> 3) & 3;
    std::size_t at = 1 + 2 * static_cast<std::size_t>(before);
    if (size < at) {
        return 0;
    }
    Clear();
    for (std::uint32_t i = 0; i < before; ++i) {
        const std::size_t want = data[1 + 2 * i] | (data[2 + 2 * i] << 8);
        const std::size_t n = std::min(want, size - at);
        char name[16];
        std::snprintf(name, sizeof name, "set.z%02u", i + 1);
        if (!fuzz::WriteInput(Scratch().Path(name), data + at, n)) {
            return 0;
        }
        at += n;
    }
    const std::string last = Scratch().Path(operation == 2 ? "set.exe" : "set.zip");
    if (!fuzz::WriteInput(last, data + at, size - at)) {
        return 0;
    }
    {
        TZipArchiver zip;
        zip.SetUnattended(true);
        zip.SetZipFileName(last);
        const int n = zip.Count();
        for (int i = 0; i < n; ++i) {
            if (auto e = zip.DirEntry(i)) {
                (void)e->FileName();
            }
        }
        if (n > 0) {
            if (operation == 1) {
                Spanned(zip);
            } else if (operation == 2) {
                zip.ConvertToZIP();
            } else {
                zip.Join(Scratch().Path("joined.zip"));
                if (operation == 3 && fs::exists(Scratch().Path("joined.zip"))) {
                    TZipArchiver joined;
                    joined.SetUnattended(true);
                    joined.SetZipFileName(Scratch().Path("joined.zip"));
                    if (joined.Count() > 0) {
                        Spanned(joined);
                    }
                }
            }
        }
    }
    // Only the parts, the joined archive and the new set's parts may exist.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Scratch().Folder(), ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("set.", 0) != 0 && name != "joined.zip" && name.rfind("spanned.", 0) != 0) {
            __builtin_trap();  // a temporary file was left behind
        }
    }
    return 0;
}
