#pragma once
// A max-abs summary of the display file: the largest absolute value of every
// block of kBlock samples, kept in a temporary file of its own and written as the
// display file grows. Peak columns at wide zoom then read the summary for the
// inside of a column and raw samples only at its edges, so the work per call is
// bounded by the view's width, not by the span it covers.
//
// Threads: Add and Finish run on the decoding thread; the reads only after the
// load has finished.
#include <cstdint>
#include <vector>

#include "TempFile.h"

class PeakSummary {
  public:
    static constexpr std::int64_t kBlock = 64;

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
    // Block maxima for blocks [first, last), read in one go.
    bool ReadBlocks(std::int64_t first, std::int64_t last, std::vector<std::uint16_t>* out) const;
    const std::string& Path() const { return file_.path; }

  private:
    bool Flush();

    TempFile file_;
    std::vector<std::uint16_t> pending_;
    std::uint16_t blockMax_ = 0;
    std::int64_t inBlock_ = 0;
    bool finished_ = false;
};
