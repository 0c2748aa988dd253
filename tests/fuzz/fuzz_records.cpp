// The records of an entry that both sides decode: the extra field (Zip64,
// extended timestamp, Unicode path and comment, AES, Unix records) and the
// stored name in every encoding. The input is the general purpose flags (16
// bits), the name length (16 bits), the name and the extra field. Besides
// crashes it checks what must hold: the extra-field edits keep well-formed
// records, what is built is parsed back to the same values, and every
// decoded name is valid UTF-8.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ZEArchive.h"
#include "ZEJob.h"
#include "ZEUtil.h"
#include "platform/CodePage.h"
#include "platform/ZipRecords.h"
#include "zip/ZAUTF8.h"

namespace {

using namespace zrec;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

constexpr std::uint16_t kTags[] = {0x0001, 0x000A, 0x5455, 0x6375, 0x7075, 0x7875, 0x9901};

void ComponentExtra(std::string_view name, std::string_view extra) {
    const std::size_t walked = WalkExtra(extra, [](const TZAExtraRecord&) { return true; });
    check(walked <= extra.size());
    for (const std::uint16_t tag : kTags) {
        const auto rec = FindExtra(extra, tag);
        check(!rec || (rec->tag == tag && rec->offset + rec->length <= extra.size()));
        const std::string_view data = ExtraData(extra, tag);
        const std::string dropped = DropExtraTags(extra, {tag});
        check(dropped.size() <= extra.size());
        if (walked == extra.size()) {
            check(!FindExtra(dropped, tag));  // a well-formed field loses every such record
        }
        // A cleaned field is well-formed to its end and without the tag.
        const std::string clean = CleanExtraWithout(extra, {tag});
        check(WalkExtra(clean, [](const TZAExtraRecord&) { return true; }) == clean.size() &&
              !FindExtra(clean, tag));
        // The new record comes first, also when it has no data.
        if (const auto replaced = ReplaceExtra(extra, tag, data)) {
            const auto first = FindExtra(*replaced, tag);
            check(first && first->offset == 0 && first->data == data);
        }
        (void)KeepExtraTags(extra, {tag, 0x0001});
    }
    // Zip64: every combination of wanted values; what is built reads back the same.
    const std::string_view z64 = ExtraData(extra, 0x0001);
    for (int want = 0; want < 16; ++want) {
        TZAZip64Values v;
        if (!ParseZip64Data(z64, want & 1, want & 2, want & 4, want & 8, v)) {
            continue;
        }
        TZAZip64Values back;
        check(ParseZip64Data(BuildZip64Data(v), want & 1, want & 2, want & 4, want & 8, back));
        check(back.uncompressedSize == v.uncompressedSize &&
              back.compressedSize == v.compressedSize &&
              back.localHeaderOffset == v.localHeaderOffset && back.diskStart == v.diskStart);
    }
    if (const auto t = ParseExtTime(ExtraData(extra, 0x5455))) {
        const auto back = ParseExtTime(BuildExtTimeData(*t));
        check(back && back->modified == t->modified && back->accessed == t->accessed &&
              back->created == t->created);
    }
    for (const std::uint16_t tag : {0x7075, 0x6375}) {
        if (const auto text = ValidUnicodeText(ExtraData(extra, tag), name)) {
            check(platform::IsValidUtf8(*text));
            check(ValidUnicodeText(BuildUnicodeData(name, *text), name) == *text);
        }
    }
    for (const bool utf8 : {false, true}) {
        for (const unsigned codePage : {850u, 1252u, 437u}) {
            (void)CodePageToComponent(name, codePage, utf8);
        }
        const std::string component = Utf8ToComponent(name, utf8);
        (void)ComponentToOem(component, utf8);
        (void)ComponentToAnsi(component, utf8);
        (void)ComponentToUtf8(component, utf8);
        (void)NeedsEncoding(name);
    }
}

void EngineEntry(std::uint16_t flags, std::string_view name, std::string_view extra) {
    ze::Entry e;
    e.flags = flags;
    e.name = std::string(name);
    e.extra = std::string(extra);
    for (const std::uint16_t madeBy : {0x0014, 0x031E, 0x0B14}) {
        e.madeBy = madeBy;
        for (const int encoding :
             {ZE_ENC_AUTO, ZE_ENC_NONE, ZE_ENC_OEM, ZE_ENC_UTF8, ZE_ENC_UPATH}) {
            const std::string decoded = ze::Archive::decodeName(e, encoding, 1252);
            check((flags & 0x800) != 0 || encoding == ZE_ENC_UTF8 ||
                  platform::IsValidUtf8(decoded) || !platform::NeedsEncoding(name));
        }
        (void)e.unixMode();
        (void)e.isDir();
        (void)e.isSymlink();
    }
    (void)e.mtime();
    e.method = 99;
    int strength = 0;
    std::uint16_t method = 0;
    int vendor = 0;
    if (e.aesInfo(strength, method, vendor)) {
        check(strength >= 1 && strength <= 3);
    }
    // The engine reads the extra field through the shared walk: its times agree with it.
    if (const auto t = ParseExtTime(ExtraData(extra, 0x5455)); t && t->modified) {
        check(e.mtime() == static_cast<std::time_t>(*t->modified));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint16_t flags = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    const std::size_t nameLen = std::min<std::size_t>(data[2] | (data[3] << 8), size - 4);
    const std::string_view name(reinterpret_cast<const char*>(data + 4), nameLen);
    const std::string_view extra(reinterpret_cast<const char*>(data + 4 + nameLen),
                                 size - 4 - nameLen);
    ComponentExtra(name, extra);
    EngineEntry(flags, name, extra);
    return 0;
}
