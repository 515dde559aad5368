// The error report and the temporary WAV store.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "ErrorReport.h"
#include "IData.h"
#include "LastError.h"
#include "MessageRecorder.h"
#include "TempFile.h"

namespace {

TEST(ErrorReport, FormatsLabelCodeAndTextUnderTheErrorCaption) {
    MessageRecorder messages;
    SetLastError(5, L"Access is denied.");
    ShowError(L"CreateFile()");
    std::uint32_t code = ENOENT;
    ShowError(L"DeleteFile()", &code);
    ShowError(std::wstring(2000, L'y').c_str());
    auto shown = messages.Messages();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, L"CreateFile() failed with error 5: Access is denied.");
    EXPECT_EQ(shown[0].caption, L"Error");
    EXPECT_EQ(shown[1].text, L"DeleteFile() failed with error 2: No such file or directory");
    EXPECT_EQ(shown[2].text.size(), 1023u) << "an over-long report is cut, not dropped";
}

TEST(ErrorReport, LastErrorIsPerThread) {
    SetLastError(7, L"main");
    std::uint32_t seen = 1;
    std::thread([&] { seen = GetLastError(); }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 7u);
}

struct TestData : IData {
    void ReleaseGraph() override {}
    void AddSamples(const std::uint8_t*, long, double) override {}
    void Clear() override {}
    int GetWidth() override { return 0; }
    int GetScrollPos() override { return 0; }
    void ScrollBy(int) override {}
    void SetScrollPos(int) override {}
    int SetCursor(int) override { return 0; }
    int GetCursorPos() override { return 0; }
    int CenterCursor(int) override { return 0; }
    void Play(bool) override {}
    bool UpdatePlayback() override { return true; }
    int GetVolume() override { return 0; }
    void SetVolume(int) override {}
};

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(TempStore, EmptyRecordingGetsAValidHeaderAndFilesGoWithTheObject) {
    std::string display, wav;
    {
        TestData data;
        ASSERT_TRUE(CreateTempFiles(data));
        display = data.displayFile.path;
        wav = data.wavFile.path;
        EXPECT_EQ(std::filesystem::path(wav).filename().string().rfind("PRR", 0), 0u);
        data.channels = 2;
        data.sampleRate = 44100;
        data.blockAlign = 4;
        data.bytesPerSample = 2;
        FinishWavFile(data);
        auto bytes = ReadFile(wav);
        ASSERT_EQ(bytes.size(), 44u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
        EXPECT_EQ(Le32(bytes, 4), 36u);
        EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Le16(bytes, 22), 2);
        EXPECT_EQ(Le32(bytes, 28), 176400u);
        EXPECT_EQ(Le16(bytes, 32), 4);
        EXPECT_EQ(Le16(bytes, 34), 16);
        EXPECT_EQ(Le32(bytes, 40), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(display));
    EXPECT_FALSE(std::filesystem::exists(wav));
}

TEST(TempStore, EightBitMonoHeader) {
    std::uint8_t h[44];
    BuildWavHeader(h, 1, 8000, 1, 1, 44 + 800);
    std::vector<std::uint8_t> b(h, h + 44);
    EXPECT_EQ(Le16(b, 34), 8);
    EXPECT_EQ(Le32(b, 28), 8000u);
    EXPECT_EQ(Le32(b, 40), 800u);
    EXPECT_EQ(Le32(b, 4), 836u);
}

TEST(TempStore, RecreatingAnOpenFileKeepsItsName) {
    TestData data;
    ASSERT_TRUE(CreateTempFiles(data));
    std::string name = data.wavFile.path;
    ASSERT_TRUE(CreateTempFile(data.wavFile));
    EXPECT_EQ(data.wavFile.path, name);
    EXPECT_FALSE(data.wavFile.IsOpen());
    // A close that fails still lets go of the number, which is no longer ours.
    MessageRecorder messages;
    ::close(data.displayFile.fd);
    EXPECT_FALSE(CreateTempFile(data.displayFile));
    EXPECT_FALSE(data.displayFile.IsOpen());
    EXPECT_THAT(messages.Texts(), ::testing::ElementsAre(::testing::StartsWith(L"CloseHandle()")));
}

TEST(TempStore, AFilePastWhatTheHeaderDescribesGetsNoWrappedHeader) {
    TestData data;
    ASSERT_TRUE(CreateTempFiles(data));
    ASSERT_EQ(::ftruncate(data.wavFile.fd, kMaxWavFileSize + 1), 0);  // sparse
    EXPECT_FALSE(FinishWavFile(data));
    EXPECT_FALSE(data.wavFile.IsOpen());
    std::ifstream in(data.wavFile.path, std::ios::binary);
    std::vector<char> header(44);
    in.read(header.data(), 44);
    EXPECT_EQ(header, std::vector<char>(44, 0));
}

TEST(TempStore, UnwritableFolderIsReportedAndLeavesNothingBehind) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere";
    MessageRecorder messages;
    auto folder = std::filesystem::temp_directory_path() / "sayalike-readonly";
    std::filesystem::create_directories(folder);
    chmod(folder.c_str(), 0500);
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", folder.c_str(), 1);
    TestData data;
    EXPECT_FALSE(CreateTempFiles(data));
    setenv("TMPDIR", saved.c_str(), 1);
    chmod(folder.c_str(), 0700);
    ASSERT_FALSE(messages.Texts().empty());
    EXPECT_THAT(messages.Texts()[0],
                ::testing::StartsWith(L"CreateTempFile() failed with error 13"));
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove_all(folder);
}

TEST(TempStore, MissingFolderIsReported) {
    MessageRecorder messages;
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", "/nonexistent/sayalike", 1);
    TestData data;
    EXPECT_FALSE(CreateTempFiles(data));
    setenv("TMPDIR", saved.c_str(), 1);
    EXPECT_THAT(
        messages.Texts(),
        ::testing::ElementsAre(::testing::StartsWith(L"CreateTempFile() failed with error 2")));
    EXPECT_TRUE(data.displayFile.path.empty());
}

}  // namespace
