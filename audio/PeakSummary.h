#pragma once
// A max-abs summary of the display file in two levels: the largest absolute
// value of every block of kBlock samples, kept in a temporary file of its own and
// written as the display file grows, and of every group of kGroup samples (a
// block's worth of block maxima), kept in memory (80 kB an hour at 44.1 kHz).
// Peak columns at wide zoom then take the inside of a column from the groups,
// and block maxima and raw samples only near its edges, so the work per call is
// bounded by the view's width, not by the span it covers.
//
// Threads: Add runs on the load's writer thread, Finish on the loading thread
// once the writer has ended; the reads only after the load has finished.
#include <cstdint>
#include <vector>

#include "TempFile.h"

// The largest absolute value of `count` samples (0 for none), |-32768| included.
int MaxAbs(const std::int16_t* samples, std::int64_t count);

class PeakSummary {
  public:
    static constexpr std::int64_t kBlock = 64;
    static constexpr std::int64_t kGroup = kBlock * kBlock;

    PeakSummary() = default;
    ~PeakSummary();
    PeakSummary(const PeakSummary&) = delete;
    PeakSummary& operator=(const PeakSummary&) = delete;

    // Starts an empty summary in a new temporary file.
    bool Create();
    // Deletes the file and forgets everything.
    bool Delete();
    // False (last error set) when the file could not be written.
    bool Add(const std::int16_t* samples, std::size_t count);
    // Writes what is buffered; a trailing partial block is left out (its samples
    // are always read raw). False (last error set) when that write failed.
    bool Finish();

    bool Ready() const { return file_.IsOpen() && finished_; }
    // How many whole blocks the file holds.
    std::int64_t Blocks() const { return blocks_; }
    // The maxima of the whole groups, in order.
    const std::vector<std::uint16_t>& Groups() const { return groups_; }
    int File() const { return file_.fd; }
    const std::string& Path() const { return file_.path; }

  private:
    bool Flush();

    TempFile file_;
    std::vector<std::uint16_t> pending_;
    std::uint16_t blockMax_ = 0;
    std::int64_t inBlock_ = 0;
    std::int64_t blocks_ = 0;
    std::vector<std::uint16_t> groups_;
    std::uint16_t groupMax_ = 0;
    bool finished_ = false;
};
