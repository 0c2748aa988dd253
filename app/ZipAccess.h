// The main window's calls into the zip component, gathered in one place.
// The component grows operation by operation; every call here uses the
// component's own member when this build has it. Where it does not, the
// call does nothing and OperationAvailable() says so, so that a command can
// tell the user instead of pretending the operation ran.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/ZipArchiver.h"

enum class TZipOperation { zoLoad, zoAdd, zoExtract, zoDelete, zoConvertToSFX, zoConvertToZIP };

// True when this build's component offers the operation.
bool OperationAvailable(TZipOperation op);

// What the entry list shows of one entry.
struct TArchiveEntryInfo {
    std::string FileName;
    std::int64_t CompressedSize = 0;
    std::int64_t UncompressedSize = 0;
    std::uint32_t DosDateTime = 0;
};

namespace zipaccess {

std::string ZipFileName(TZipArchiver& zip);
// Names the archive; the component loads it and raises OnDirUpdate.
void SetZipFileName(TZipArchiver& zip, const std::string& name);
int Count(TZipArchiver& zip);
TArchiveEntryInfo DirEntry(TZipArchiver& zip, int index);

void SetFSpecArgs(TZipArchiver& zip, const std::vector<std::string>& lines);
std::vector<std::string> FSpecArgs(TZipArchiver& zip);
void SetAddOptions(TZipArchiver& zip, TZAAddOpts options);
void SetExtrOptions(TZipArchiver& zip, TZAExtrOpts options);
void SetExtrBaseDir(TZipArchiver& zip, const std::string& folder);
void SetPassword(TZipArchiver& zip, const std::string& password);
void SetSFXPath(TZipArchiver& zip, const std::string& path);
void SetDLLDirectory(TZipArchiver& zip, const std::string& folder);
void SetSFXCaption(TZipArchiver& zip, const std::string& caption);
void SetUseUTF8(TZipArchiver& zip, bool on);
void SetLanguage(TZipArchiver& zip, const std::string& language);

// The operations. They report their errors through the component's events
// and never throw; an unavailable operation returns without doing anything.
void Add(TZipArchiver& zip);
void Extract(TZipArchiver& zip);
void Delete(TZipArchiver& zip);
// 0 on success, else the component's error (or -1 when unavailable).
int ConvertToSFX(TZipArchiver& zip);
int ConvertToZIP(TZipArchiver& zip);

}  // namespace zipaccess
