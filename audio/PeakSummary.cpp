#include "PeakSummary.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

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
    finished_ = false;
    return DeleteTempFile(file_);
}

bool PeakSummary::Add(const std::int16_t* samples, std::size_t count) {
    if (!file_.IsOpen())
        return true;
    for (std::size_t k = 0; k < count; ++k) {
        auto value = static_cast<std::uint16_t>(std::abs(static_cast<int>(samples[k])));
        blockMax_ = std::max(blockMax_, value);
        if (++inBlock_ == kBlock) {
            pending_.push_back(blockMax_);
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

bool PeakSummary::ReadBlocks(std::int64_t first, std::int64_t last,
                             std::vector<std::uint16_t>* out) const {
    out->assign(static_cast<std::size_t>(std::max<std::int64_t>(last - first, 0)), 0);
    if (out->empty())
        return true;
    auto bytes = static_cast<ssize_t>(out->size() * 2);
    return ::pread(file_.fd, out->data(), static_cast<std::size_t>(bytes), first * 2) == bytes;
}
