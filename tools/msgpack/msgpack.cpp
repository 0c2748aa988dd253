// tarvik-msgpack: packs the message text sources (zip/messages/text/*.txt)
// into catalogue blocks and writes them as a C++ source with two byte arrays:
// the built-in block and the language resource "ZAResStr191" (all language
// blocks laid end to end).
//
//   tarvik-msgpack --output FILE.cpp --builtin en.txt [--language xx.txt ...]
//                  [--names names.txt --ids FILE.h]
//
// With --names it also writes the header of message numbers by name
// (zamsg::kNAME), checked against the built-in table.

#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "MsgBlock.h"

namespace {

using msgpack::PackError;

struct Source {
    std::string path;
    std::string code;
    long languageId = -1;
    std::string encoding;
    msgpack::TableContent content;
    std::map<int, std::string> utf8Texts;
};

// Converts UTF-8 text to `toCode` with iconv; a character the target cannot
// hold is an error, never a silent '?'.
std::string convert(const std::string& utf8, const char* toCode, int number) {
    iconv_t cd = iconv_open(toCode, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw PackError(std::string("iconv cannot convert to ") + toCode);
    }
    std::string out(utf8.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) {
        throw PackError("message " + std::to_string(number) + " cannot be written in " + toCode);
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string unescape(const std::string& raw, int number) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            text += raw[i];
            continue;
        }
        if (++i == raw.size()) {
            throw PackError("message " + std::to_string(number) + " ends with a lone backslash");
        }
        switch (raw[i]) {
            case 'r':
                text += '\r';
                break;
            case 'n':
                text += '\n';
                break;
            case 's':
                text += ' ';
                break;
            case '\\':
                text += '\\';
                break;
            default:
                throw PackError("message " + std::to_string(number) + ": unknown escape \\" +
                                raw[i]);
        }
    }
    return text;
}

long parseNumber(const std::string& word) {
    std::size_t used = 0;
    const long value = std::stol(word, &used, 0);
    if (used != word.size()) {
        throw PackError("not a number: " + word);
    }
    return value;
}

void parseHeader(Source& src, const std::string& line) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "@code") {
        words >> src.code;
    } else if (key == "@id") {
        std::string value;
        words >> value;
        src.languageId = parseNumber(value);
    } else if (key == "@encoding") {
        words >> src.encoding;
    } else if (key == "@ranges") {
        std::string range;
        while (words >> range) {
            // "A-B", or "A" for a range of one number.
            const auto dash = range.find('-');
            const int first = static_cast<int>(parseNumber(range.substr(0, dash)));
            const int last = dash == std::string::npos
                                 ? first
                                 : static_cast<int>(parseNumber(range.substr(dash + 1)));
            src.content.ranges.push_back({first, last});
        }
    } else {
        throw PackError("unknown header line: " + line);
    }
}

Source readSource(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw PackError("cannot read " + path);
    }
    Source src;
    src.path = path;
    std::string line;
    bool messagesStarted = false;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            throw PackError(path + ": lines must end with LF only");
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '@') {
            if (messagesStarted) {
                throw PackError(path + ": header line after the first message: " + line);
            }
            parseHeader(src, line);
            continue;
        }
        messagesStarted = true;
        const auto tab = line.find('\t');
        if (tab == std::string::npos) {
            throw PackError(path + ": message line without TAB: " + line);
        }
        const int number = static_cast<int>(parseNumber(line.substr(0, tab)));
        if (!src.utf8Texts.emplace(number, unescape(line.substr(tab + 1), number)).second) {
            throw PackError(path + ": message " + std::to_string(number) + " given twice");
        }
    }
    if (src.code.empty() || src.languageId <= 0 || src.languageId > 0xFFFF ||
        src.content.ranges.empty()) {
        throw PackError(path + ": @code, @id (1-65535) and @ranges are required");
    }
    if (src.encoding == "cp1252") {
        src.content.wide = false;
        for (const auto& [number, text] : src.utf8Texts) {
            src.content.narrowTexts[number] = convert(text, "WINDOWS-1252", number);
        }
    } else if (src.encoding == "utf-16le") {
        src.content.wide = true;
        for (const auto& [number, text] : src.utf8Texts) {
            const std::string bytes = convert(text, "UTF-16LE", number);
            std::u16string units;
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                               (static_cast<unsigned char>(bytes[i + 1]) << 8));
            }
            src.content.wideTexts[number] = units;
        }
    } else {
        throw PackError(path + ": @encoding must be cp1252 or utf-16le");
    }
    src.content.dosTime = msgpack::kFixedDosTime;
    src.content.dosDate = msgpack::kFixedDosDate;
    return src;
}

std::vector<std::uint8_t> packSource(const std::string& path) {
    try {
        const Source src = readSource(path);
        const auto table = msgpack::BuildTable(src.content);
        return msgpack::PackBlock(static_cast<std::uint16_t>(src.languageId), src.code, table);
    } catch (const PackError& e) {
        throw PackError(path + ": " + e.what());
    }
}

// The header of message numbers by name: each line of `namesPath` is
// "NUMBER<TAB>Name"; every number must have a text in the built-in table.
std::string buildIds(const std::string& namesPath, const Source& builtin) {
    std::ifstream file(namesPath, std::ios::binary);
    if (!file) {
        throw PackError("cannot read " + namesPath);
    }
    std::ostringstream out;
    out << "// Generated by tarvik-msgpack from zip/messages/text/names.txt; do not edit.\n"
           "#pragma once\n\nnamespace zamsg {\n\n";
    std::set<std::string> names;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const auto tab = line.find('\t');
        if (tab == std::string::npos) {
            throw PackError(namesPath + ": line without TAB: " + line);
        }
        const int number = static_cast<int>(parseNumber(line.substr(0, tab)));
        const std::string name = line.substr(tab + 1);
        bool identifier = !name.empty() && name[0] >= 'A' && name[0] <= 'Z';
        for (const char c : name) {
            identifier = identifier && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                        (c >= '0' && c <= '9'));
        }
        if (!identifier) {
            throw PackError(namesPath + ": not a name: " + line);
        }
        if (!names.insert(name).second) {
            throw PackError(namesPath + ": name given twice: " + name);
        }
        if (builtin.utf8Texts.count(number) == 0) {
            throw PackError(namesPath + ": " + name + ": message " + std::to_string(number) +
                            " has no text in " + builtin.path);
        }
        out << "inline constexpr int k" << name << " = " << number << ";\n";
    }
    out << "\n}  // namespace zamsg\n";
    return out.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
        throw PackError("cannot write " + path);
    }
}

void writeArray(std::ostream& out, const char* name, const std::vector<std::uint8_t>& bytes) {
    out << "const std::uint8_t " << name << "[] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(bytes[i]) << ',';
    }
    out << "\n};\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::string output;
    std::string builtin;
    std::vector<std::string> languages;
    std::string namesPath;
    std::string idsPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--output") {
            output = argv[i + 1];
        } else if (option == "--builtin") {
            builtin = argv[i + 1];
        } else if (option == "--language") {
            languages.emplace_back(argv[i + 1]);
        } else if (option == "--names") {
            namesPath = argv[i + 1];
        } else if (option == "--ids") {
            idsPath = argv[i + 1];
        } else {
            std::cerr << "tarvik-msgpack: unknown option " << option << '\n';
            return 2;
        }
    }
    if (output.empty() || builtin.empty() || argc % 2 == 0 ||
        namesPath.empty() != idsPath.empty()) {
        std::cerr << "usage: tarvik-msgpack --output FILE.cpp --builtin en.txt "
                     "[--language xx.txt ...] [--names names.txt --ids FILE.h]\n";
        return 2;
    }
    try {
        const auto builtinBlock = packSource(builtin);
        std::vector<std::uint8_t> resource;
        for (const auto& path : languages) {
            const auto block = packSource(path);
            resource.insert(resource.end(), block.begin(), block.end());
        }
        std::ostringstream out;
        out << "// Generated by tarvik-msgpack from the message text sources; do not edit.\n"
               "#include \"zip/messages/ZAResStr.h\"\n\nnamespace {\n\n";
        writeArray(out, "kDefaultBlock", builtinBlock);
        out << '\n';
        // An empty resource still needs one element for a valid array.
        writeArray(out, "kZAResStr191", resource.empty() ? std::vector<std::uint8_t>{0} : resource);
        out << "\n}  // namespace\n\n"
               "std::span<const std::uint8_t> DefaultMessageBlock() {\n"
               "    return {kDefaultBlock, sizeof kDefaultBlock};\n}\n\n"
               "std::span<const std::uint8_t> ProgramLanguageResource() {\n"
               "    return {kZAResStr191, "
            << resource.size() << "};\n}\n";
        if (!idsPath.empty()) {
            writeFile(idsPath, buildIds(namesPath, readSource(builtin)));
        }
        writeFile(output, out.str());
    } catch (const std::exception& e) {
        std::cerr << "tarvik-msgpack: " << e.what() << '\n';
        std::remove(output.c_str());
        if (!idsPath.empty()) {
            std::remove(idsPath.c_str());
        }
        return 1;
    }
    return 0;
}
