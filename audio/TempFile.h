#pragma once
// The temporary store: each audio object keeps its audio in two files in the
// temporary folder ($TMPDIR, else /tmp), names starting "PRR": a headerless mono
// 16-bit display file and a RIFF/WAVE file with a 44-byte header.
#include <cstdint>
#include <string>
#include <utility>

// An owned file descriptor, closed when dropped or replaced; moved, never
// copied. It reads as the plain number for the system calls.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~FileDescriptor() { Close(); }

    operator int() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // 0, or the errno close answered. The descriptor is forgotten either way:
    // Linux releases it even when close fails, and keeping the number could
    // later close someone else's file.
    int Close();

  private:
    int fd_ = -1;
};

struct TempFile {
    std::string path;   // empty: no file
    FileDescriptor fd;  // closed: no open handle

    bool IsOpen() const { return fd.IsOpen(); }
};

class IData;

constexpr int kWavHeaderSize = 44;
// The largest file the header's 32-bit RIFF size can describe.
constexpr std::int64_t kMaxWavFileSize = 0xFFFFFFFFLL;

// The temporary folder, without a trailing slash.
std::string TempFolder();

// Without an open handle: a new empty file with a fresh name. With one: closes it
// and keeps the name, so the caller re-creates the same file.
bool CreateTempFile(TempFile& file);
// Opens (creating or truncating) the named file for reading and writing.
bool OpenTempFile(TempFile& file);
// Both files, with a 44-byte zero placeholder at the start of the WAV file.
bool CreateTempFiles(IData& data);
// Closes and deletes; true when both steps succeeded or had nothing to do.
bool DeleteTempFile(TempFile& file);
// Writes the finished RIFF/WAVE header from the format fields and the file size,
// and closes the WAV file. False (last error set) when the header could not be
// written, or the file has grown past what its header can describe.
bool FinishWavFile(IData& data);
// How many frames of `blockAlign` bytes the store holds at most: the WAV
// header's sizes and the 32-bit sample counts must both stay exact.
std::int64_t MaxStoredFrames(std::uint16_t blockAlign);
// The 44-byte header for a file of the given total size.
void BuildWavHeader(std::uint8_t header[kWavHeaderSize], std::uint16_t channels,
                    std::uint32_t sampleRate, std::uint16_t blockAlign,
                    std::uint16_t bytesPerSample, std::uint32_t fileSize);
// Writes all of the buffer at the current position; false (last error set) otherwise.
bool WriteAll(int fd, const void* buffer, std::size_t length);
