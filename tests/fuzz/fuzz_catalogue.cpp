// Treats the input as a language resource: finds blocks by code and id,
// unpacks every block and looks every message number up in each table.
// Nothing may read outside the input or the unpacked table.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "zip/messages/ZAMsg.h"

namespace {

void lookupAll(std::span<const std::uint8_t> table) {
    for (int n = 0; n < 512; ++n) {
        const auto text = LookupInTable(table, n);
        if (text && text->empty()) {
            __builtin_trap();  // an empty text counts as none
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> resource(data, size);

    for (const char* code : {"DE", "SPX", "S1", "ABCD", "es"}) {
        if (const auto block = FindBlockByCode(resource, code)) {
            if (const auto unpacked = UnpackBlock(resource, block->offset)) {
                lookupAll(unpacked->table);
            }
        }
    }
    for (int id : {0x0407, 7, 0x0C0A, 0x040A, 0}) {
        if (const auto block = FindBlockById(resource, id)) {
            UnpackBlock(resource, block->offset);
        }
    }
    for (const TZABlockInfo& block : ListBlocks(resource)) {
        if (const auto unpacked = UnpackBlock(resource, block.offset)) {
            if (unpacked->table.size() >= kZAMaxTableSize || unpacked->languageId == 0) {
                __builtin_trap();
            }
            lookupAll(unpacked->table);
        }
    }
    // The raw input as an unpacked table too: most inputs never inflate.
    lookupAll(resource);

    // Through the catalogue itself, with the input installed as the resource.
    SetLanguageResource(resource);
    SelectLanguage("DE");
    const std::string text = CatalogueText(2);
    SelectLanguageId(0x0C0A);
    const std::string formatted = MessageTextFmt(67, {std::int64_t{1}});
    if (text.empty() || formatted.empty()) {
        __builtin_trap();
    }
    AvailableLanguages();
    SetLanguageResource({});
    return 0;
}
