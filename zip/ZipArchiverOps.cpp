// The façade's operations that rewrite archives without the engine: delete,
// the conversions between plain and self-extracting archives, spanning and
// joining, and the archive comment.
#include "platform/AtomicReplace.h"
#include "zip/ZALister.h"
#include "zip/ZAUtils.h"
#include "zip/ZAZipFile.h"
#include "zip/ZAZippedOpr.h"
#include "zip/ZipArchiver.h"

void TZipArchiver::Delete() {
    RunOperation([this] { StartWork<TZAZippedOpr>().Delete(true); });
}

int TZipArchiver::ConvertToSFX() {
    int result = 0;
    RunOperation([this, &result] {
        result = StartWork<TZAFileOpr>().ConvertToSFX({});
        if (result < 0) {
            throw EZipArchiver(ZAAbsCode(result), true);
        }
    });
    return ErrCode() != 0 ? ErrCode() : result;
}

int TZipArchiver::ConvertToZIP() {
    int result = 0;
    RunOperation([this, &result] {
        result = StartWork<TZAFileOpr>().ConvertToZIP({});
        if (result < 0) {
            throw EZipArchiver(ZAAbsCode(result), true);
        }
    });
    return ErrCode() != 0 ? ErrCode() : result;
}

int TZipArchiver::Span(const std::string& target) {
    int result = 0;
    RunOperation([this, &result, &target] {
        result = StartWork<TZAFileOpr>().SpanTo(target);
        if (result < 0) {
            throw EZipArchiver(ZAAbsCode(result), true);
        }
    });
    return ErrCode() != 0 ? ErrCode() : result;
}

int TZipArchiver::Join(const std::string& target) {
    int result = 0;
    RunOperation([this, &result, &target] {
        result = StartWork<TZAFileOpr>().JoinTo(target);
        if (result < 0) {
            throw EZipArchiver(ZAAbsCode(result), true);
        }
    });
    return ErrCode() != 0 ? ErrCode() : result;
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
