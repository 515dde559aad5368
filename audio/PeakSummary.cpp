#include "PeakSummary.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

// The bulk of the samples goes through a loop whose length is a multiple of 16,
// which the compiler's default optimisation turns into vector code; the rest
// goes one by one.
int MaxAbs(const std::int16_t* samples, std::int64_t count) {
    std::int16_t high = 0, low = 0;
    const std::int64_t bulk = count & ~std::int64_t{15};
    for (std::int64_t k = 0; k < bulk; ++k) {
        high = std::max(high, samples[k]);
        low = std::min(low, samples[k]);
    }
    for (std::int64_t k = bulk; k < count; ++k) {
        high = std::max(high, samples[k]);
        low = std::min(low, samples[k]);
    }
    return std::max(static_cast<int>(high), -static_cast<int>(low));
}

PeakSummary::~PeakSummary() {
    Delete();
}

bool PeakSummary::Create() {
    Delete();
    pending_.reserve(4096);
    return CreateTempFile(file_) && OpenTempFile(file_);
}

bool PeakSummary::Delete() {
    pending_.clear();
    blockMax_ = 0;
    inBlock_ = 0;
    blocks_ = 0;
    std::vector<std::uint16_t>().swap(groups_);
    groupMax_ = 0;
    finished_ = false;
    return DeleteTempFile(file_);
}

bool PeakSummary::Add(const std::int16_t* samples, std::size_t count) {
    if (!file_.IsOpen())
        return true;
    while (count > 0) {
        auto n = static_cast<std::size_t>(
            std::min<std::int64_t>(kBlock - inBlock_, static_cast<std::int64_t>(count)));
        auto value = static_cast<std::uint16_t>(MaxAbs(samples, static_cast<std::int64_t>(n)));
        blockMax_ = std::max(blockMax_, value);
        samples += n;
        count -= n;
        inBlock_ += static_cast<std::int64_t>(n);
        if (inBlock_ == kBlock) {
            pending_.push_back(blockMax_);
            groupMax_ = std::max(groupMax_, blockMax_);
            if (++blocks_ % kBlock == 0) {
                groups_.push_back(groupMax_);
                groupMax_ = 0;
            }
            blockMax_ = 0;
            inBlock_ = 0;
        }
    }
    return pending_.size() < 4096 || Flush();
}

bool PeakSummary::Flush() {
    bool ok = pending_.empty() || WriteAll(file_.fd, pending_.data(), pending_.size() * 2);
    pending_.clear();
    return ok;
}

bool PeakSummary::Finish() {
    bool ok = !file_.IsOpen() || Flush();
    finished_ = file_.IsOpen() && ok;
    return ok;
}
