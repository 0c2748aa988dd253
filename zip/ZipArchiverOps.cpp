// The façade's operations that rewrite archives without the engine: delete,
// the conversions between plain and self-extracting archives, spanning and
// joining, and the archive comment.
#include "platform/AtomicReplace.h"
#include "zip/ZALister.h"
#include "zip/ZARepair.h"
#include "zip/ZAUtils.h"
#include "zip/ZAZipFile.h"
#include "zip/ZAZippedOpr.h"
#include "zip/ZipArchiver.h"

void TZipArchiver::Delete() {
    RunOperation([this] { StartWork<TZAZippedOpr>().Delete(true); });
}

int TZipArchiver::RunFileOperation(const std::function<std::int32_t(TZAFileOpr&)>& work) {
    int result = 0;
    RunOperation([this, &result, &work] {
        result = work(StartWork<TZAFileOpr>());
        if (result < 0) {
            // A failure the operation has shown already (with its arguments
            // filled in) ends the frame without being said a second time.
            if (ErrCode() != 0) {
                throw TZAReportedFailure{};
            }
            throw EZipArchiver(ZAAbsCode(result), true);
        }
    });
    return ErrCode() != 0 ? ErrCode() : result;
}

int TZipArchiver::Repair(const std::string& damaged, const std::string& target,
                         TZARepairOutcome& outcome) {
    RunOperation([&] { StartWork<TZARepair>().Run(damaged, target, outcome); });
    return ErrCode();
}

int TZipArchiver::ConvertToSFX() {
    return RunFileOperation([](TZAFileOpr& op) { return op.ConvertToSFX({}); });
}

int TZipArchiver::ConvertToZIP() {
    return RunFileOperation([](TZAFileOpr& op) { return op.ConvertToZIP({}); });
}

int TZipArchiver::ConvertToSpanSFX(const std::string& destination) {
    return RunFileOperation(
        [&destination](TZAFileOpr& op) { return op.ConvertToSpanSFX(destination); });
}

int TZipArchiver::Span(const std::string& target) {
    return RunFileOperation([&target](TZAFileOpr& op) { return op.SpanTo(target); });
}

int TZipArchiver::Join(const std::string& target) {
    return RunFileOperation([&target](TZAFileOpr& op) { return op.JoinTo(target); });
}

void TZipArchiver::ApplyZipComment(const std::string& comment) {
    const std::string name = ZipFileName();
    TZALister* lister = Lister();
    if (lister == nullptr || name.empty() || !FileExists(name)) {
        // No archive yet: the text waits for the first one written.
        TCustomZipArchiver::ApplyZipComment(comment);
        return;
    }
    const TZAZipFile* loaded = lister->View().AttachedZip();
    if (loaded == nullptr || (loaded->Info & TZACentral::ziLoaded) == 0) {
        RunOperation([] { throw EZipArchiver(ZA_CODE(202)); });
        return;
    }
    if (loaded->ArchiveComment == comment) {
        TCustomZipArchiver::ApplyZipComment(comment);
        return;
    }
    RunOperation([this, &comment] { StartWork<TZAModOpr>().ChangeComment(comment); });
}
