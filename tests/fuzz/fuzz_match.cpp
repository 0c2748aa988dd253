// Fuzzes the matcher and the file-spec line splitter. The input is split
// at its first NUL into a specification list and a name; everything runs in
// both text modes. Besides crashes, it checks what must always hold: the
// cached and the prepared matcher agree, the fast wildcard comparison agrees
// with its recursive definition, a plain name matches itself, and the
// splitter's results are consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/WildcardReference.h"
#include "zip/ZAArgSplit.h"
#include "zip/ZAMatch.h"
#include "zip/messages/ZAMsg.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isPlainName(std::string_view name) {
    if (!HasNoWildcards(name)) {
        return false;
    }
    bool printable = false;
    for (const char ch : name) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 32) {
            return false;
        }
        printable = printable || byte > 32;
    }
    return printable;
}

void fuzzSplitter(std::string_view line) {
    static const char* const kAllows[] = {">E", "<>CEFNSX", "SNCX<"};
    for (const char* allow : kAllows) {
        for (std::uint8_t options = 0; options < 8; ++options) {
            TZAArgSplitter splitter;
            splitter.SetOptions(options);
            splitter.SetAllow(allow);
            splitter.SetRaw(line);
            check(splitter.Found().size() == splitter.Values().size());
            const std::uint8_t error = splitter.Error();
            check(error == 0 || error == 2 || error == 3 || error == 5 || error == 6);
            check(error != 0 || splitter.ErrorText().empty());
            const std::string& found = splitter.Found();
            for (std::size_t i = 0; i < found.size(); ++i) {
                check(found.find(found[i]) == i);  // no letter twice
                check(std::string_view(allow).find(found[i]) != std::string_view::npos);
                check(splitter.Value(found[i]) == splitter.Values()[i]);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view spec = input.substr(0, nul);
    const std::string_view name =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    for (const bool utf8 : {false, true}) {
        SetUseUTF8(utf8);
        const bool matched = FileNameMatch(spec, name);
        check(TZASpecList(spec, utf8).matches(name) == matched || spec.empty() || name.empty());
        check(SameFileName(spec, spec) == 0);
        check((SameFileName(spec, name) == 0) == (SameFileName(name, spec) == 0));
        if (isPlainName(name)) {
            check(FileNameMatch(name, name));
        }
        (void)IsInvalidPath(spec, utf8);

        if (spec.size() <= 16 && name.size() <= 16) {
            std::u16string pattern;
            std::u16string text;
            prepareMatchText(spec, utf8, pattern);
            prepareMatchText(name, utf8, text);
            check(wildcardMatch(pattern, text) ==
                  tarvik_test::referenceWildcardMatch(pattern, text));
        }
    }
    SetUseUTF8(false);
    fuzzSplitter(input);
    return 0;
}
