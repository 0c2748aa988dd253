// What an OnProgress handler is told: the kind of the report and the item
// and batch counters the reports have built up.
#pragma once

#include <cstdint>
#include <string>

#include "zip/ZATypes.h"

class TZAProgressDetails {
public:
    virtual ~TZAProgressDetails() = default;
    virtual std::int64_t BytesWritten() const = 0;
    virtual std::int64_t Delta() const = 0;
    virtual const std::string& ItemName() const = 0;
    virtual std::int32_t ItemNumber() const = 0;
    virtual std::int64_t ItemPosition() const = 0;
    virtual std::int64_t ItemSize() const = 0;
    virtual TZAProgressKind ProgressKind() const = 0;
    virtual bool Stop() const = 0;
    virtual std::int64_t TotalCount() const = 0;
    virtual std::int64_t TotalPosition() const = 0;
    virtual std::int64_t TotalSize() const = 0;
    virtual void SetStop(bool value) = 0;
};

class TProgDetails : public TZAProgressDetails {
public:
    std::int64_t BytesWritten() const override { return bytesWritten_; }
    std::int64_t Delta() const override { return delta_; }
    const std::string& ItemName() const override { return itemName_; }
    std::int32_t ItemNumber() const override { return itemNumber_; }
    std::int64_t ItemPosition() const override { return itemPosition_; }
    std::int64_t ItemSize() const override { return itemSize_; }
    TZAProgressKind ProgressKind() const override { return progressKind_; }
    bool Stop() const override { return stop_; }
    std::int64_t TotalCount() const override { return totalCount_; }
    std::int64_t TotalPosition() const override { return totalPosition_; }
    std::int64_t TotalSize() const override { return totalSize_; }
    void SetStop(bool value) override { stop_ = value; }
    bool InBatch() const { return inBatch_; }

    // The updates of one report of each kind; each also sets ProgressKind.
    void NewItem(const std::string& name, std::int64_t size);       // pkNewItem
    void Advance(std::int64_t n);                                   // pkItemProgress
    void EndItem();                                                 // pkEndOfItem
    void EndBatch();                                                // pkEndOfBatch
    void SetCount(std::int64_t n);                                  // pkTotalCount
    void SetSize(std::int64_t n);                                   // pkTotalSize
    void NewExtraItem(const std::string& name, std::int64_t size);  // pkNewExtra
    void AdvanceExtra(std::int32_t n);                              // pkExtraProgress
    // The engine's count of bytes written so far.
    void SetBytesWritten(std::int64_t n) { bytesWritten_ = n; }

private:
    // What a main and an extra item have in common: the start of an item and a step in it.
    void StartItem(TZAProgressKind kind, const std::string& name, std::int64_t size);
    void Step(TZAProgressKind kind, std::int64_t n);

    std::int64_t delta_ = 0;
    bool inBatch_ = false;
    std::int64_t totalCount_ = 0;
    std::string itemName_;
    std::int32_t itemNumber_ = 0;
    std::int64_t itemPosition_ = 0;
    std::int64_t itemSize_ = 0;
    TZAProgressKind progressKind_ = pkNewItem;
    bool stop_ = false;
    std::int64_t totalPosition_ = 0;
    std::int64_t totalSize_ = 0;
    std::int64_t bytesWritten_ = 0;
};
