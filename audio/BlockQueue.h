#pragma once
// Hands decoded audio from a decoder's streaming thread to a writer thread of
// its own, gathered into large blocks, so that decoding and storing run side by
// side and each block reaches the store in one piece. A fixed set of blocks is
// reused: when every block is waiting for the writer, the streaming thread waits
// too, so memory stays bounded whatever the decoder's pace.
//
// Threads: Start and Finish on one thread; Add from one thread at a time
// between them (the streaming thread, which must have stopped before Finish);
// the sink runs on the writer thread, one block after another, in order.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BlockQueue {
  public:
    using Sink = std::function<void(const std::uint8_t* data, std::size_t length)>;

    BlockQueue(std::size_t blockBytes, std::size_t blocks);
    ~BlockQueue();
    BlockQueue(const BlockQueue&) = delete;
    BlockQueue& operator=(const BlockQueue&) = delete;

    // Takes the blocks and starts the writer thread.
    void Start(Sink sink);
    bool Running() const { return writer_.joinable(); }
    // Appends a buffer to the block being filled; a buffer is never split
    // between blocks. `endBlock` hands the block on right after this buffer.
    void Add(const std::uint8_t* data, std::size_t length, bool endBlock);
    // Hands on what was gathered, waits until the sink has had every block,
    // ends the writer thread and lets the blocks go.
    void Finish();

  private:
    struct Block {
        std::vector<std::uint8_t> bytes;
        std::size_t used = 0;
    };

    void HandOn();
    void Write();

    const std::size_t blockBytes_;
    const std::size_t blockCount_;
    Sink sink_;
    std::unique_ptr<Block> filling_;  // the adding thread's
    std::mutex mutex_;
    std::condition_variable blockFree_;
    std::condition_variable blockReady_;
    std::vector<std::unique_ptr<Block>> free_;
    std::deque<std::unique_ptr<Block>> ready_;
    bool finishing_ = false;
    std::thread writer_;
};
