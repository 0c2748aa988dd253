#include "zip/ZAProgress.h"

void TProgDetails::NewItem(const std::string& name, std::int64_t size) {
    progressKind_ = pkNewItem;
    ++itemNumber_;
    itemName_ = name;
    itemSize_ = size;
    itemPosition_ = 0;
}

void TProgDetails::Advance(std::int64_t n) {
    progressKind_ = pkItemProgress;
    delta_ = n;
    itemPosition_ += n;
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
    progressKind_ = pkNewExtra;
    itemName_ = name;
    itemSize_ = size;
    itemPosition_ = 0;
}

void TProgDetails::AdvanceExtra(std::int32_t n) {
    progressKind_ = pkExtraProgress;
    delta_ = n;
    itemPosition_ += n;
}
