#include "zip/ZAStubIcon.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/ZipRecords.h"
#include "zip/ZAXcpt.h"

namespace {

constexpr std::uint32_t kResourceTypeIcon = 3;
constexpr std::uint32_t kResourceTypeGroupIcon = 14;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000;
constexpr int kMaxDepth = 3;  // type, name, language
// Where the fields sit in a PE32 program.
constexpr std::size_t kPeFileHeaderSize = 20;
constexpr std::size_t kOptSizeOfInitData = 8, kOptSectionAlign = 32, kOptFileAlign = 36,
                      kOptSizeOfImage = 56, kOptCheckSum = 64, kOptDirCount = 92, kOptDirs = 96;
constexpr std::size_t kDirResource = 2, kDirSecurity = 4, kDirBaseReloc = 5;
constexpr std::size_t kSectionHeaderSize = 40;
// Icon file and group records.
constexpr std::size_t kIconDirSize = 6, kIconFileEntrySize = 16, kGroupEntrySize = 14;
constexpr std::size_t kIconImageFields = 12;  // width ... bytes in resource

[[noreturn]] void fail(std::int32_t code) {
    throw EZipArchiver(code);
}

std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at, std::int32_t code) {
    if (at > b.size() || b.size() - at < 4) {
        fail(code);
    }
    return zrec::GetU32(b.data() + at);
}

std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at, std::int32_t code) {
    if (at > b.size() || b.size() - at < 2) {
        fail(code);
    }
    return zrec::GetU16(b.data() + at);
}

std::uint32_t alignUp(std::uint32_t v, std::uint32_t a) {
    return a == 0 ? v : (v + a - 1) / a * a;
}

struct Section {
    std::size_t header;  // offset of the section header in the file
    std::uint32_t virtualSize, address, rawSize, rawOffset;
};

// The headers a rebuild needs.
struct Image {
    std::size_t optional = 0;
    std::vector<Section> sections;
    std::uint32_t dirCount = 0;

    std::uint32_t Dir(std::span<const std::uint8_t> exe, std::size_t index, bool size) const {
        return index < dirCount
                   ? u32(exe, optional + kOptDirs + index * 8 + (size ? 4 : 0), ZA_CODE(144))
                   : 0;
    }
    // The file offset of `count` bytes at `rva`.
    std::size_t Offset(std::uint32_t rva, std::uint32_t count) const {
        for (const Section& s : sections) {
            if (rva >= s.address && rva - s.address <= s.rawSize &&
                s.rawSize - (rva - s.address) >= count) {
                return s.rawOffset + (rva - s.address);
            }
        }
        fail(ZA_CODE(143));
    }
};

Image readImage(std::span<const std::uint8_t> exe) {
    Image img;
    if (exe.size() < 64 || exe[0] != 'M' || exe[1] != 'Z') {
        fail(ZA_CODE(144));
    }
    const std::size_t pe = u32(exe, 60, ZA_CODE(144));
    if (u32(exe, pe, ZA_CODE(144)) != 0x00004550) {
        fail(ZA_CODE(144));
    }
    const std::uint16_t count = u16(exe, pe + 6, ZA_CODE(144));
    const std::uint16_t optSize = u16(exe, pe + 20, ZA_CODE(144));
    img.optional = pe + 4 + kPeFileHeaderSize;
    if (u16(exe, img.optional, ZA_CODE(144)) != 0x10B || optSize < kOptDirs) {
        fail(ZA_CODE(144));  // PE32 only: the stub is a 32-bit program
    }
    img.dirCount = std::min<std::uint32_t>(u32(exe, img.optional + kOptDirCount, ZA_CODE(144)),
                                           (optSize - kOptDirs) / 8);
    const std::size_t table = img.optional + optSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t h = table + i * kSectionHeaderSize;
        Section s{h, u32(exe, h + 8, ZA_CODE(144)), u32(exe, h + 12, ZA_CODE(144)),
                  u32(exe, h + 16, ZA_CODE(144)), u32(exe, h + 20, ZA_CODE(144))};
        if (s.rawOffset > exe.size() || exe.size() - s.rawOffset < s.rawSize) {
            fail(ZA_CODE(144));
        }
        img.sections.push_back(s);
    }
    std::sort(img.sections.begin(), img.sections.end(),
              [](const Section& a, const Section& b) { return a.address < b.address; });
    return img;
}

// ---- the resource tree ----------------------------------------------------------------

struct Node {
    bool named = false;
    std::uint32_t id = 0;
    std::u16string name;
    bool leaf = false;
    std::vector<std::uint8_t> data;
    std::uint32_t codePage = 0;
    std::vector<Node> children;
};

void readDir(std::span<const std::uint8_t> exe, const Image& img,
             std::span<const std::uint8_t> rsrc, std::uint32_t at, int depth, Node& into) {
    if (depth >= kMaxDepth) {
        fail(ZA_CODE(143));
    }
    const std::uint16_t named = u16(rsrc, at + 12, ZA_CODE(143));
    const std::uint16_t ids = u16(rsrc, at + 14, ZA_CODE(143));
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(named) + ids; ++i) {
        const std::uint32_t e = at + 16 + i * 8;
        const std::uint32_t key = u32(rsrc, e, ZA_CODE(143));
        const std::uint32_t target = u32(rsrc, e + 4, ZA_CODE(143));
        Node child;
        if ((key & kSubdirectoryBit) != 0) {
            const std::uint32_t s = key & ~kSubdirectoryBit;
            const std::uint16_t len = u16(rsrc, s, ZA_CODE(143));
            if (rsrc.size() - s - 2 < len * 2u) {
                fail(ZA_CODE(143));
            }
            child.named = true;
            for (std::uint16_t c = 0; c < len; ++c) {
                child.name += static_cast<char16_t>(u16(rsrc, s + 2 + c * 2u, ZA_CODE(143)));
            }
        } else {
            child.id = key;
        }
        if ((target & kSubdirectoryBit) != 0) {
            readDir(exe, img, rsrc, target & ~kSubdirectoryBit, depth + 1, child);
        } else {
            const std::uint32_t rva = u32(rsrc, target, ZA_CODE(143));
            const std::uint32_t size = u32(rsrc, target + 4, ZA_CODE(143));
            const std::size_t off = img.Offset(rva, size);
            child.leaf = true;
            child.data.assign(exe.begin() + static_cast<std::ptrdiff_t>(off),
                              exe.begin() + static_cast<std::ptrdiff_t>(off + size));
            child.codePage = u32(rsrc, target + 8, ZA_CODE(143));
        }
        into.children.push_back(std::move(child));
    }
}

struct Tree {
    Node root;
    Image img;
    std::size_t section = 0;  // the resource section, in img.sections
};

Tree readTree(std::span<const std::uint8_t> exe) {
    Tree t;
    t.img = readImage(exe);
    const std::uint32_t rva = t.img.Dir(exe, kDirResource, false);
    if (rva == 0) {
        fail(ZA_CODE(147));
    }
    const auto& sections = t.img.sections;
    const auto found = std::find_if(sections.begin(), sections.end(),
                                    [rva](const Section& s) { return s.address == rva; });
    if (found == sections.end()) {
        fail(ZA_CODE(144));  // a resource directory that does not open its section
    }
    t.section = static_cast<std::size_t>(found - sections.begin());
    readDir(exe, t.img, exe.subspan(found->rawOffset, found->rawSize), 0, 0, t.root);
    return t;
}

Node* child(Node& n, std::uint32_t id) {
    for (Node& c : n.children) {
        if (!c.named && c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

// The first language of the first icon group: its group record.
Node* firstGroup(Node& root) {
    Node* groups = child(root, kResourceTypeGroupIcon);
    if (groups == nullptr || groups->children.empty() || groups->children[0].children.empty() ||
        !groups->children[0].children[0].leaf) {
        return nullptr;
    }
    return &groups->children[0].children[0];
}

void putU16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    zrec::PutU16(b.data() + at, static_cast<std::uint16_t>(v));
}

void putU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    zrec::PutU32(b.data() + at, v);
}

// Directory tables (breadth first), names, data entries, data: the bytes of
// a resource section at `rva`.
std::vector<std::uint8_t> writeTree(Node& root, std::uint32_t rva) {
    // Windows looks entries up by binary search: names first, then ids.
    std::vector<Node*> dirs{&root};
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        auto& kids = dirs[i]->children;
        std::stable_sort(kids.begin(), kids.end(), [](const Node& a, const Node& b) {
            return a.named != b.named ? a.named : a.named ? a.name < b.name : a.id < b.id;
        });
        for (Node& c : kids) {
            if (!c.leaf) {
                dirs.push_back(&c);
            }
        }
    }
    std::vector<std::uint32_t> dirAt;
    std::uint32_t size = 0;
    for (Node* d : dirs) {
        dirAt.push_back(size);
        size += 16 + 8 * static_cast<std::uint32_t>(d->children.size());
    }
    std::vector<std::uint8_t> out(size);
    std::vector<std::pair<std::size_t, const Node*>> leaves;  // entry field, leaf
    std::size_t next = 1;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const auto& kids = dirs[i]->children;
        const auto named =
            std::count_if(kids.begin(), kids.end(), [](const Node& c) { return c.named; });
        putU16(out, dirAt[i] + 12, static_cast<std::uint32_t>(named));
        putU16(out, dirAt[i] + 14, static_cast<std::uint32_t>(kids.size() - named));
        for (std::size_t k = 0; k < kids.size(); ++k) {
            const std::size_t e = dirAt[i] + 16 + k * 8;
            if (kids[k].named) {
                putU32(out, e, kSubdirectoryBit | static_cast<std::uint32_t>(out.size()));
                const std::size_t s = out.size();
                out.resize(s + 2 + kids[k].name.size() * 2);
                putU16(out, s, static_cast<std::uint32_t>(kids[k].name.size()));
                for (std::size_t c = 0; c < kids[k].name.size(); ++c) {
                    putU16(out, s + 2 + c * 2, kids[k].name[c]);
                }
            } else {
                putU32(out, e, kids[k].id);
            }
            if (kids[k].leaf) {
                leaves.emplace_back(e + 4, &kids[k]);
            } else {
                putU32(out, e + 4, kSubdirectoryBit | dirAt[next++]);
            }
        }
    }
    out.resize(alignUp(static_cast<std::uint32_t>(out.size()), 4));
    const std::size_t entries = out.size();
    out.resize(entries + leaves.size() * 16);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const std::size_t e = entries + i * 16;
        putU32(out, leaves[i].first, static_cast<std::uint32_t>(e));
        out.resize(alignUp(static_cast<std::uint32_t>(out.size()), 8));
        putU32(out, e, rva + static_cast<std::uint32_t>(out.size()));
        putU32(out, e + 4, static_cast<std::uint32_t>(leaves[i].second->data.size()));
        putU32(out, e + 8, leaves[i].second->codePage);
        out.insert(out.end(), leaves[i].second->data.begin(), leaves[i].second->data.end());
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> ReadExeIcon(std::span<const std::uint8_t> exe) {
    Tree t;
    try {
        t = readTree(exe);
    } catch (const EZipArchiver& e) {
        // A program without resources (or not a 32-bit one) has no icon.
        if (e.MessageId == 144 || e.MessageId == 147) {
            return {};
        }
        throw;
    }
    Node* group = firstGroup(t.root);
    Node* icons = child(t.root, kResourceTypeIcon);
    if (group == nullptr) {
        return {};
    }
    const std::span<const std::uint8_t> g = group->data;
    const std::uint16_t count = u16(g, 4, ZA_CODE(143));
    std::vector<std::uint8_t> ico(kIconDirSize + count * kIconFileEntrySize);
    putU16(ico, 2, 1);
    putU16(ico, 4, count);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t e = kIconDirSize + i * kGroupEntrySize;
        Node* image =
            icons == nullptr ? nullptr : child(*icons, u16(g, e + kIconImageFields, ZA_CODE(143)));
        if (image == nullptr || image->children.empty() || !image->children[0].leaf) {
            fail(ZA_CODE(149));
        }
        const std::vector<std::uint8_t>& data = image->children[0].data;
        const std::size_t f = kIconDirSize + i * kIconFileEntrySize;
        std::memcpy(ico.data() + f, g.data() + e, kIconImageFields);
        putU32(ico, f + 8, static_cast<std::uint32_t>(data.size()));
        putU32(ico, f + 12, static_cast<std::uint32_t>(ico.size()));
        ico.insert(ico.end(), data.begin(), data.end());
    }
    return ico;
}

void ReplaceExeIcon(std::vector<std::uint8_t>& exe, std::span<const std::uint8_t> ico) {
    // The icon file: its directory and images.
    if (u16(ico, 0, ZA_CODE(145)) != 0 || u16(ico, 2, ZA_CODE(145)) != 1 ||
        u16(ico, 4, ZA_CODE(145)) == 0) {
        fail(ZA_CODE(148));
    }
    const std::uint16_t count = u16(ico, 4, ZA_CODE(145));
    Tree t = readTree(exe);
    Node* group = firstGroup(t.root);
    if (group == nullptr) {
        fail(ZA_CODE(146));
    }
    Node* icons = child(t.root, kResourceTypeIcon);
    if (icons == nullptr) {
        t.root.children.push_back(Node{false, kResourceTypeIcon, {}, false, {}, 0, {}});
        icons = &t.root.children.back();
        group = firstGroup(t.root);
    }
    // The old group's images go; the new ones take fresh numbers.
    const std::span<const std::uint8_t> old = group->data;
    for (std::uint16_t i = 0; i < u16(old, 4, ZA_CODE(143)); ++i) {
        const std::uint16_t id =
            u16(old, kIconDirSize + i * kGroupEntrySize + kIconImageFields, ZA_CODE(143));
        std::erase_if(icons->children, [id](const Node& n) { return !n.named && n.id == id; });
    }
    std::uint32_t nextId = 1;
    for (const Node& n : icons->children) {
        nextId = std::max(nextId, n.named ? 0 : n.id + 1);
    }
    std::vector<std::uint8_t> newGroup(kIconDirSize + count * kGroupEntrySize);
    putU16(newGroup, 2, 1);
    putU16(newGroup, 4, count);
    const std::uint32_t groupLanguage = [&] {
        Node* groups = child(t.root, kResourceTypeGroupIcon);
        return groups->children[0].children[0].id;
    }();
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::size_t f = kIconDirSize + i * kIconFileEntrySize;
        const std::uint32_t size = u32(ico, f + 8, ZA_CODE(145));
        const std::uint32_t at = u32(ico, f + 12, ZA_CODE(145));
        if (at > ico.size() || ico.size() - at < size || size == 0 || nextId > 0xFFFF) {
            fail(ZA_CODE(145));
        }
        const std::size_t e = kIconDirSize + i * kGroupEntrySize;
        std::memcpy(newGroup.data() + e, ico.data() + f, kIconImageFields);
        putU16(newGroup, e + kIconImageFields, nextId);
        Node lang{false, groupLanguage, {}, true, {}, 0, {}};
        lang.data.assign(ico.begin() + at, ico.begin() + at + size);
        icons->children.push_back(Node{false, nextId++, {}, false, {}, 0, {std::move(lang)}});
    }
    firstGroup(t.root)->data = std::move(newGroup);

    // The new resource section, and the sections after it moved along.
    const Image& img = t.img;
    const std::uint32_t fileAlign = u32(exe, img.optional + kOptFileAlign, ZA_CODE(144));
    const std::uint32_t sectAlign = u32(exe, img.optional + kOptSectionAlign, ZA_CODE(144));
    if (img.Dir(exe, kDirSecurity, false) != 0) {
        fail(ZA_CODE(144));  // a signed program cannot be changed
    }
    const Section& rs = img.sections[t.section];
    const std::uint32_t relocRva = img.Dir(exe, kDirBaseReloc, false);
    std::vector<std::uint8_t> rsrc = writeTree(t.root, rs.address);
    std::vector<std::uint8_t> out(exe.begin(), exe.begin() + rs.rawOffset);
    const auto rsrcSize = static_cast<std::uint32_t>(rsrc.size());
    rsrc.resize(alignUp(rsrcSize, fileAlign));
    putU32(out, rs.header + 8, rsrcSize);
    putU32(out, rs.header + 16, static_cast<std::uint32_t>(rsrc.size()));
    putU32(out, img.optional + kOptDirs + kDirResource * 8 + 4, rsrcSize);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    std::uint32_t address = rs.address + alignUp(rsrcSize, sectAlign);
    std::int64_t rawDelta = static_cast<std::int64_t>(rsrc.size()) - rs.rawSize;
    std::uint32_t imageEnd = address;
    for (const Section& s : img.sections) {
        if (s.address <= rs.address) {
            continue;
        }
        // Only the base relocations can move: nothing refers to where they are.
        if (relocRva != s.address || s.rawOffset < rs.rawOffset) {
            fail(ZA_CODE(144));
        }
        putU32(out, s.header + 12, address);
        putU32(out, s.header + 20, static_cast<std::uint32_t>(out.size()));
        putU32(out, img.optional + kOptDirs + kDirBaseReloc * 8, address);
        out.insert(out.end(), exe.begin() + s.rawOffset, exe.begin() + s.rawOffset + s.rawSize);
        address += alignUp(std::max(s.virtualSize, 1u), sectAlign);
        imageEnd = address;
    }
    putU32(out, img.optional + kOptSizeOfImage, imageEnd);
    putU32(out, img.optional + kOptSizeOfInitData,
           static_cast<std::uint32_t>(u32(exe, img.optional + kOptSizeOfInitData, ZA_CODE(144)) +
                                      rawDelta));
    putU32(out, img.optional + kOptCheckSum, 0);
    exe = std::move(out);
}
