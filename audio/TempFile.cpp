#include "TempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "ErrorReport.h"
#include "IData.h"
#include "LastError.h"

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = (dir && *dir) ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

int FileDescriptor::Close() {
    if (fd_ < 0)
        return 0;
    return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
}

namespace {

bool CloseFile(TempFile& file) {
    if (int error = file.fd.Close(); error != 0) {
        SetLastErrorFromErrno(error);
        ShowError(L"CloseHandle()");
        return false;
    }
    return true;
}

void PutLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool WriteAll(int fd, const void* buffer, std::size_t length) {
    auto p = static_cast<const std::uint8_t*>(buffer);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetLastErrorFromErrno(errno);
            return false;
        }
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CreateTempFile(TempFile& file) {
    if (file.IsOpen())
        return CloseFile(file);
    file.path.clear();
    std::string name = TempFolder() + "/PRRXXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        ShowError(L"CreateTempFile()");
        return false;
    }
    ::close(fd);
    file.path = buffer.data();
    return true;
}

bool OpenTempFile(TempFile& file) {
    int fd = ::open(file.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        ShowError(L"CreateFile()");
        // The empty file made for the name stays behind, as the name was reserved.
        file.fd = FileDescriptor();
        file.path.clear();
        return false;
    }
    file.fd = FileDescriptor(fd);
    return true;
}

bool CreateTempFiles(IData& data) {
    if (!CreateTempFile(data.displayFile) || !OpenTempFile(data.displayFile))
        return false;
    if (!CreateTempFile(data.wavFile) || !OpenTempFile(data.wavFile)) {
        DeleteTempFile(data.displayFile);
        return false;
    }
    std::uint8_t placeholder[kWavHeaderSize] = {};
    if (::lseek(data.wavFile.fd, 0, SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return WriteAll(data.wavFile.fd, placeholder, sizeof placeholder);
}

bool DeleteTempFile(TempFile& file) {
    if (file.IsOpen() && !CloseFile(file))
        return false;
    if (!file.path.empty()) {
        if (::unlink(file.path.c_str()) != 0) {
            SetLastErrorFromErrno(errno);
            ShowError(L"DeleteFile()");
            return false;
        }
        file.path.clear();
    }
    return true;
}

void BuildWavHeader(std::uint8_t h[kWavHeaderSize], std::uint16_t channels,
                    std::uint32_t sampleRate, std::uint16_t blockAlign,
                    std::uint16_t bytesPerSample, std::uint32_t fileSize) {
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, fileSize - 8);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, 1);
    PutLe16(h + 22, channels);
    PutLe32(h + 24, sampleRate);
    PutLe32(h + 28, static_cast<std::uint32_t>(blockAlign) * sampleRate);
    PutLe16(h + 32, blockAlign);
    PutLe16(h + 34, static_cast<std::uint16_t>(bytesPerSample * 8));
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, fileSize - kWavHeaderSize);
}

std::int64_t MaxStoredFrames(std::uint16_t blockAlign) {
    std::int64_t frames = std::numeric_limits<std::int32_t>::max();
    if (blockAlign > 0)
        frames = std::min<std::int64_t>(frames, (kMaxWavFileSize - kWavHeaderSize) / blockAlign);
    return frames;
}

bool FinishWavFile(IData& data) {
    if (!data.wavFile.IsOpen())
        return false;
    struct stat st {};
    bool ok = ::fstat(data.wavFile.fd, &st) == 0;
    if (!ok)
        SetLastErrorFromErrno(errno);
    // A size the 32-bit fields cannot hold would be written wrapped.
    if (ok && st.st_size > kMaxWavFileSize) {
        SetLastErrorFromErrno(EFBIG);
        ok = false;
    }
    if (ok) {
        std::uint8_t header[kWavHeaderSize];
        BuildWavHeader(header, data.channels, data.sampleRate, data.blockAlign, data.bytesPerSample,
                       static_cast<std::uint32_t>(st.st_size));
        ok = ::pwrite(data.wavFile.fd, header, sizeof header, 0) ==
             static_cast<ssize_t>(sizeof header);
        if (!ok)
            SetLastErrorFromErrno(errno);
    }
    if (int error = data.wavFile.fd.Close(); error != 0 && ok) {
        SetLastErrorFromErrno(error);
        ok = false;
    }
    return ok;
}
