#include "zip/ZAInternal.h"

void TZAInternal::SetSFXIcon(const TZAIcon* icon) {
    if (icon == nullptr || icon->Empty()) {
        sfxIcon_.reset();
        return;
    }
    if (icon == sfxIcon_.get())
        return;
    sfxIcon_ = std::make_unique<TZAIcon>(*icon);
}
