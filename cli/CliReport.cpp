#include "cli/CliReport.h"

#include "zip/messages/ZAMsg.h"
#include "zip/messages/ZAMsgIds.h"

namespace {

// Catalogue numbers of the skip line and of the reasons, by skip type.
constexpr int kSkippedMessage = zamsg::kSkippedLine;
constexpr int kSkipReasonBase = zamsg::kSkipReasonFirst;

}  // namespace

CliReport::CliReport(CliContext& ctx, TCustomZipArchiver& zip) : ctx_(ctx), zip_(zip) {
    zip.OnMessage = [this](TCustomZipArchiver&, int code, const std::string& text) {
        if (code == 0) {
            return;
        }
        // "Nothing selected" after the skips that said which names matched
        // nothing repeats them.
        const int recorded = zip_.ErrCode();
        if (skipped_ > 0 && (recorded == 11 || recorded == 13 || recorded == 248)) {
            return;
        }
        SayOnce(text);
        lastError_ = text;
    };
    zip.OnSkipped = [this](TCustomZipArchiver&, const std::string& forFile, TZASkipTypes type,
                           int&) {
        ++skipped_;
        // A failure the engine has just described names the file already:
        // the skip that follows it is the same event.
        const bool described = !lastError_.empty() && lastError_.find(forFile) != std::string::npos;
        lastError_.clear();
        if (!described) {
            SayOnce(MessageTextFmt(
                kSkippedMessage, {forFile, MessageText(kSkipReasonBase + static_cast<int>(type))}));
        }
    };
}

void CliReport::SayOnce(const std::string& text) {
    // The component may report one failure on two paths (its dialog and its
    // message event, a load and a reload): the user hears it once.
    if (said_.insert(text).second) {
        ctx_.Say(subject_.empty() || text.find(subject_) != std::string::npos
                     ? text
                     : subject_ + ": " + text);
    }
}

void CliReport::SayRecordedError() {
    if (zip_.ErrCode() != 0 && !zip_.ErrMessage().empty()) {
        if (said_.empty()) {
            SayOnce(zip_.ErrMessage());
        }
    }
}

int CliReport::Status(std::int64_t done) {
    SayRecordedError();
    // The warning an archive loaded with (which ErrCode holds as well) is
    // no failure of the operation: the work was done, with a warning.
    const int warning = zip_.LoadWarning();
    const int recorded = zip_.ErrCode();
    if ((recorded == 0 || recorded == warning) && skipped_ == 0) {
        return warning != 0 ? kExitWarning : kExitOk;
    }
    return done > 0 ? kExitWarning : kExitFailure;
}
