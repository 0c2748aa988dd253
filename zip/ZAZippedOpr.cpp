#include "zip/ZAZippedOpr.h"

#include "zip/ZALister.h"
#include "zip/ZAMatch.h"
#include "zip/ZAUtils.h"

namespace {

std::string joinSpecs(const std::vector<std::string>& specs) {
    std::string out;
    for (const std::string& s : specs) {
        if (!out.empty()) {
            out += '|';
        }
        out += s;
    }
    return out;
}

// A "/E" value adds to the exclusion when it begins with "|", else replaces it.
std::string withExclusion(const std::string& base, const std::string& value) {
    return !value.empty() && value[0] == '|' ? base + value : value;
}

}  // namespace

// ---- TZAZipList ----------------------------------------------------------------------

std::int32_t TZAZipList::Add(std::unique_ptr<TZAZipFile> archive) {
    items_.push_back(std::move(archive));
    return Count() - 1;
}

std::int32_t TZAZipList::Find(const std::string& path) const {
    for (std::int32_t i = 0; i < Count(); ++i) {
        if (SameFileName(items_[static_cast<std::size_t>(i)]->FileName(), path) == 0) {
            return i;
        }
    }
    return -ZA_CODE(123);
}

TZAZipFile* TZAZipList::Item(std::int32_t index) const {
    return index >= 0 && index < Count() ? items_[static_cast<std::size_t>(index)].get() : nullptr;
}

void TZAZipList::Clear() {
    items_.clear();
}

// ---- TZAZippedOpr ----------------------------------------------------------------------

TZAZippedOpr::TZAZippedOpr(TZAHost& host) : TZAModOpr(host) {}

TZAZippedOpr::~TZAZippedOpr() = default;

std::int32_t TZAZippedOpr::Delete(bool raise) {
    std::int32_t result = 0;
    try {
        if (!ZipFileName().empty()) {
            LockForRewrite(ZipFileName());
        }
        result = ZipFileName().empty() ? DeleteFromList() : DeleteFromCurrent();
    } catch (const EZAException& e) {
        if (raise) {
            throw;
        }
        ShowExceptionError(e);  // keeps the message's arguments
        return -e.FullCode;
    }
    if (result < 0) {
        if (raise) {
            throw EZipArchiver(ZAAbsCode(result), true);
        }
        ShowError(result);
    } else {
        SetSuccessCount(result);
    }
    return result;
}

void TZAZippedOpr::PrepareArchive(TZAZipFile& archive) {
    if (Unattended() && archive.Drive().IsFloppy()) {
        throw EZipArchiver(ZA_CODE(126));
    }
    KeepSFX = SameTextAscii(ExtractFileExt(archive.FileName()), ".exe");
}

std::int32_t TZAZippedOpr::DeleteFromCurrent() {
    TZALister& lister = Lister();
    // Deleting every entry deletes the file: then there is nothing to load,
    // and reloading would only record "file not found".
    auto markForReload = [this, &lister] {
        lister.AfterAction = FileExists(ZipFileName()) ? aaReload : aaDropDirectory;
    };
    TZAZipFile& zip = lister.CurrentZip();
    if (zip.Count() < 1 || Host().WorkSpecs().Include.empty()) {
        return -ZA_CODE(13);
    }
    std::int32_t result = 0;
    try {
        result = DeleteSelected(lister.PrepareZip(true, true), true);
    } catch (const EZAException&) {
        markForReload();
        throw;
    }
    if (ZAMessageIdOf(result) != 13) {
        markForReload();
    }
    return result;
}

std::int32_t TZAZippedOpr::DeleteSelected(TZAZipFile& archive, bool select) {
    PrepareArchive(archive);
    auto& include = Host().WorkSpecs().Include;
    auto& exclude = Host().WorkSpecs().Exclude;
    if (select) {
        std::vector<std::string> skipped;
        archive.SelectFiles(include, exclude, &skipped, Host().WorkSpecs().ExactNames);
        include.clear();
        exclude.clear();
        for (const std::string& spec : skipped) {
            if (ReportSkippedSpec(spec, 0, stNotFound, &exclude)) {
                return -ZA_CODE(17);
            }
        }
    }
    const std::int32_t selected = archive.SelectedCount();
    if (selected < 1) {
        return -ZA_CODE(13);
    }
    const std::int32_t total = archive.Count();
    // Afterwards FSpecArgs lists the names deleted.
    for (std::int32_t i = 0; i < total; ++i) {
        TZAZRec& e = archive.Entry(i);
        if (e.TestStatus(esSelected)) {
            include.push_back(e.FileName());
        }
    }
    std::int32_t result = 0;
    if (selected < total) {
        archive.SelectMatching("*", 2);
        const std::int32_t written = RewriteArchive(archive, total - selected, false);
        result = total - written;
    } else {
        archive.Close();
        const std::string name = archive.FileName();
        if (Verbose()) {
            ReportTrace("Deleting archive: " + name);
        }
        RemoveFileOrRaise(name, HowToDelete() == htdFinal);
        result = total;
    }
    archive.Info |= TZACentral::ziDiscard;
    return result;
}

void TZAZippedOpr::SelectByLine(std::string& baseExclusion, TZAZipFile*& current,
                                std::int32_t& totalSelected) {
    const std::string main = Splitter.MainSpec();
    if (!main.empty()) {
        std::int32_t index = Archives.Find(main);
        std::int32_t code = index;
        if (index < 0 && FileExists(main)) {
            LockForRewrite(main);
            auto zip = std::make_unique<TZAZipFile>(Host());
            zip->SetFileName(main);
            zip->SetRequestedName(main);
            code = zip->Open(false, false);
            if (code >= 0) {
                zip->Close();
                index = Archives.Add(std::move(zip));
            }
        }
        if (index < 0) {
            if (Verbose()) {
                ReportTrace("Skipped missing or bad zip [" + std::to_string(ZAAbsCode(code)) +
                            "] " + main);
            }
            const int id = ZAMessageIdOf(code);
            const TZASkipTypes type = id == 123 ? stNotFound : id == 164 ? stNoOpen : stReadError;
            if (ReportSkippedSpec(main, code, type, &Skipped)) {
                throw EZipArchiver(ZA_CODE(17));
            }
            current = nullptr;
            return;
        }
        current = Archives.Item(index);
    }
    const bool hasEntrySpec = Splitter.Has('>');
    if (main.empty() && !hasEntrySpec && !Splitter.Has('E')) {
        return;
    }
    if (current == nullptr || (main.empty() && !hasEntrySpec)) {
        // A line of only "/E" changes the exclusion of the lines after it.
        if (Splitter.Has('E')) {
            baseExclusion = withExclusion(baseExclusion, Splitter.Value('E'));
        }
        return;
    }
    const std::string spec = Splitter.Value('>');
    const std::string exclusion =
        Splitter.Has('E') ? withExclusion(baseExclusion, Splitter.Value('E')) : baseExclusion;
    if (Verbose()) {
        ReportTrace("Selecting: " + spec + " in: " + current->FileName());
    }
    const std::int32_t before = current->SelectedCount();
    current->SelectWithExcludes(spec.empty() ? "*" : spec, exclusion, 1);
    const std::int32_t n = current->SelectedCount() - before;
    if (n < 1 && ReportSkippedSpec(current->FileName() + ">>" + spec, 0, stNotFound, &Skipped)) {
        throw EZipArchiver(ZA_CODE(17));
    }
    totalSelected += std::max(0, n);
}

std::int32_t TZAZippedOpr::DeleteFromList() {
    auto& include = Host().WorkSpecs().Include;
    auto& exclude = Host().WorkSpecs().Exclude;
    if (include.empty()) {
        throw EZipArchiver(ZA_CODE(12));
    }
    Splitter.SetAllow(">E");
    std::string baseExclusion = joinSpecs(exclude);
    const auto lines = static_cast<std::int64_t>(include.size());
    if (lines > 20) {
        ReportProgress(6, 46, lines, {});
    }
    TZAZipFile* current = nullptr;
    std::int32_t totalSelected = 0;
    for (const std::string& line : include) {
        CheckCancelAndRaise();
        Splitter.SetRaw(line);
        if (Splitter.Error() != 0) {
            throw EZipArchiver(ZA_CODE(132), Splitter.ErrorText());
        }
        SelectByLine(baseExclusion, current, totalSelected);
        if (lines > 20) {
            ReportProgress(7, 0, 1, {});
        }
    }
    if (totalSelected < 1) {
        if (Verbose()) {
            ReportTrace("nothing selected");
        }
        return -ZA_CODE(12);
    }
    include.clear();
    exclude.clear();
    const bool manyArchives = Archives.Count() > 10;
    if (manyArchives) {
        ReportProgress(6, 46, Archives.Count(), {});
    }
    std::int32_t deleted = 0;
    std::int32_t result = 0;
    for (std::int32_t i = 0; i < Archives.Count(); ++i) {
        TZAZipFile& zip = *Archives.Item(i);
        result = DeleteSelected(zip, false);
        if (result > 0) {
            deleted += result;
        }
        if (manyArchives) {
            ReportProgress(7, 0, 1, {});
        }
    }
    exclude.insert(exclude.end(), Skipped.begin(), Skipped.end());
    return result < 0 ? result : deleted;
}
