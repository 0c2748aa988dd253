#include "zip/ZADialogProvider.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<TZADialogProvider*> gProvider{nullptr};
std::mutex gTitleMutex;
std::string& titleStore() {
    static std::string title = "Tarvik";
    return title;
}
}  // namespace

int ModalResultOf(TMsgDlgBtn b) {
    switch (b) {
        case mbYes:
            return mrYes;
        case mbNo:
            return mrNo;
        case mbOK:
            return mrOk;
        case mbCancel:
            return mrCancel;
        case mbAbort:
            return mrAbort;
        case mbRetry:
            return mrRetry;
        case mbIgnore:
            return mrIgnore;
        case mbAll:
            return mrAll;
        case mbNoToAll:
            return mrNoToAll;
        case mbYesToAll:
            return mrYesToAll;
        case mbHelp:
            break;
    }
    return mrNone;
}

void SetDefaultDialogProvider(TZADialogProvider* provider) {
    gProvider = provider;
}
TZADialogProvider* DefaultDialogProvider() {
    return gProvider;
}

void SetApplicationTitle(std::string title) {
    std::lock_guard lock(gTitleMutex);
    titleStore() = std::move(title);
}
std::string ApplicationTitle() {
    std::lock_guard lock(gTitleMutex);
    return titleStore();
}
