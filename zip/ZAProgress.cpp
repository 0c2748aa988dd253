#include "zip/ZAProgress.h"

void TProgDetails::StartItem(TZAProgressKind kind, const std::string& name, std::int64_t size) {
    progressKind_ = kind;
    itemName_ = name;
    itemSize_ = size;
    itemPosition_ = 0;
}

void TProgDetails::Step(TZAProgressKind kind, std::int64_t n) {
    progressKind_ = kind;
    delta_ = n;
    itemPosition_ += n;
}

void TProgDetails::NewItem(const std::string& name, std::int64_t size) {
    ++itemNumber_;
    StartItem(pkNewItem, name, size);
}

void TProgDetails::Advance(std::int64_t n) {
    Step(pkItemProgress, n);
    totalPosition_ += n;
}

void TProgDetails::EndItem() {
    progressKind_ = pkEndOfItem;
}

void TProgDetails::EndBatch() {
    progressKind_ = pkEndOfBatch;
    itemName_.clear();
    itemSize_ = 0;
    inBatch_ = false;
    stop_ = false;
}

void TProgDetails::SetCount(std::int64_t n) {
    const bool inBatch = inBatch_;
    *this = TProgDetails{};
    inBatch_ = inBatch;
    progressKind_ = pkTotalCount;
    totalCount_ = n;
    itemNumber_ = 0;
}

void TProgDetails::SetSize(std::int64_t n) {
    progressKind_ = pkTotalSize;
    stop_ = false;
    totalSize_ = n;
    totalPosition_ = 0;
    itemName_.clear();
    itemSize_ = 0;
    itemPosition_ = 0;
    bytesWritten_ = 0;
    inBatch_ = true;
}

void TProgDetails::NewExtraItem(const std::string& name, std::int64_t size) {
    StartItem(pkNewExtra, name, size);
}

void TProgDetails::AdvanceExtra(std::int32_t n) {
    Step(pkExtraProgress, n);
}
