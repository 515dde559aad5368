#include "BlockQueue.h"

#include <algorithm>
#include <cstring>

BlockQueue::BlockQueue(std::size_t blockBytes, std::size_t blocks)
    : blockBytes_(blockBytes), blockCount_(std::max<std::size_t>(blocks, 2)) {}

BlockQueue::~BlockQueue() {
    Finish();
}

void BlockQueue::Start(Sink sink) {
    Finish();
    sink_ = std::move(sink);
    finishing_ = false;
    auto make = [this] {
        auto block = std::make_unique<Block>();
        block->bytes.resize(blockBytes_);
        return block;
    };
    filling_ = make();
    for (std::size_t k = 1; k < blockCount_; ++k)
        free_.push_back(make());
    writer_ = std::thread([this] { Write(); });
}

void BlockQueue::Add(const std::uint8_t* data, std::size_t length, bool endBlock) {
    if (!filling_ || length == 0)
        return;
    if (filling_->used > 0 && filling_->used + length > filling_->bytes.size())
        HandOn();
    // A buffer larger than a block gets a block of its own size.
    if (length > filling_->bytes.size())
        filling_->bytes.resize(length);
    std::memcpy(filling_->bytes.data() + filling_->used, data, length);
    filling_->used += length;
    if (endBlock || filling_->used == filling_->bytes.size())
        HandOn();
}

// Adding thread: the full block goes to the writer, and the next one to fill
// is the first the writer has finished with.
void BlockQueue::HandOn() {
    std::unique_lock lock(mutex_);
    ready_.push_back(std::move(filling_));
    blockReady_.notify_one();
    blockFree_.wait(lock, [this] { return !free_.empty(); });
    filling_ = std::move(free_.back());
    free_.pop_back();
    filling_->used = 0;
}

void BlockQueue::Write() {
    std::unique_lock lock(mutex_);
    for (;;) {
        blockReady_.wait(lock, [this] { return !ready_.empty() || finishing_; });
        if (ready_.empty())
            return;
        auto block = std::move(ready_.front());
        ready_.pop_front();
        lock.unlock();
        sink_(block->bytes.data(), block->used);
        lock.lock();
        free_.push_back(std::move(block));
        blockFree_.notify_one();
    }
}

void BlockQueue::Finish() {
    if (!writer_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        if (filling_ && filling_->used > 0)
            ready_.push_back(std::move(filling_));
        finishing_ = true;
    }
    blockReady_.notify_one();
    writer_.join();
    filling_.reset();
    free_.clear();
    ready_.clear();
    sink_ = nullptr;
}
