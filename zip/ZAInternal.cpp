#include "zip/ZAInternal.h"

#include "platform/InstanceFolders.h"

std::string TZAInternal::WorkFolder() const {
    return TempDir.empty() ? platform::ProcessWorkFolder() : TempDir;
}

void TZAInternal::SetSFXIcon(const TZAIcon* icon) {
    if (icon == nullptr || icon->Empty()) {
        sfxIcon_.reset();
        return;
    }
    if (icon == sfxIcon_.get())
        return;
    sfxIcon_ = std::make_unique<TZAIcon>(*icon);
}
