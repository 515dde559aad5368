// Opening a narrator file: the Open dialog and the recent list, the loading
// thread, progress, and the hand-over of the outcome to the UI thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "FakeView.h"
#include "MessageRecorder.h"
#include "Presenter.h"
#include "ScriptedMedia.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

std::vector<std::uint8_t> Pcm16(std::initializer_list<std::int16_t> samples) {
    std::vector<std::uint8_t> bytes;
    for (auto s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    return bytes;
}

class LoadingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        media = media::scripted::InstallScriptedMedia();
        media->devices = {{L"Mic", true, S_OK, S_OK, S_OK, {{L"Capture"}}}};
        speech = MakeFile("speech.wav");
        media::scripted::ScriptedFileSpec script;
        script.duration = 10000000;
        script.buffers = {Pcm16({0, 1000, -2000}), Pcm16({300, -32768, 5})};
        media->files[speech] = script;
        presenter = std::make_unique<Presenter>(
            &view,
            std::make_unique<IniReg>(1280, 1024, (dir.path() + "/Level0.conf").toStdString()));
        ASSERT_EQ(presenter->OnCreate(nullptr), 0);
    }
    void TearDown() override {
        presenter.reset();
        media::SetMediaFactory(nullptr);
    }

    std::wstring MakeFile(const char* name) {
        std::string path = dir.filePath(name).toStdString();
        std::ofstream(path) << "x";
        return std::wstring(path.begin(), path.end());
    }

    // Ticks the timer as the view would until the load has ended.
    void TickUntilLoaded() {
        for (int i = 0; i < 5000 && presenter->State() == LOADING_SOURCE_DATA_STATE; ++i) {
            presenter->OnTimer();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    QTemporaryDir dir;
    std::shared_ptr<media::scripted::ScriptedMedia> media;
    MessageRecorder messages;
    FakeView view;
    std::unique_ptr<Presenter> presenter;
    std::wstring speech;
};

TEST_F(LoadingTest, OpenDialogLoadsTheFileAndShowsItsWaveform) {
    view.openPath = speech;
    presenter->OnOpenClick();
    EXPECT_THAT(view.recent, ElementsAre(speech)) << "the list is refilled before loading";
    EXPECT_EQ(presenter->Settings().filterIndex, 2);
    EXPECT_EQ(std::wstring(presenter->Settings().initialDir.data()), L"/chosen/folder");
    TickUntilLoaded();
    ASSERT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_FALSE(view.progressShown);
    EXPECT_EQ(view.status,
              L"Drag your mouse through the oscillogram and select a particular part.");
    const SourceData& source = presenter->Source();
    EXPECT_EQ(source.sampleCount, 6);
    EXPECT_EQ(source.peak, 32768);
    EXPECT_EQ(source.cursorSample, 0);
    EXPECT_THAT(view.journal, Contains("SetScrollRange 1 0"));
    EXPECT_EQ(view.waveformCount, 1);
    EXPECT_EQ(view.cursorColumn, 0);
    EXPECT_TRUE(view.enabled["play"] && view.enabled["open"] && view.enabled["zoomin"]);
}

TEST_F(LoadingTest, CancelledDialogChangesNothing) {
    presenter->OnOpenClick();
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);
    EXPECT_TRUE(view.recent.empty());
    EXPECT_EQ(presenter->Settings().filterIndex, 1);
}

TEST_F(LoadingTest, UndecodableFileIsReportedAndTheWindowReturnsToItsStartLook) {
    view.openPath = MakeFile("noise.mp3");
    presenter->OnOpenClick();
    TickUntilLoaded();
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);
    EXPECT_THAT(messages.Texts(),
                ElementsAre(L"AddSourceFilter() failed with error 2: Resource not found."));
    EXPECT_FALSE(view.progressShown);
    EXPECT_THAT(view.status, StartsWith(L"Click the Open button"));
    EXPECT_FALSE(view.enabled["play"]);
    EXPECT_TRUE(view.enabled["open"]);
    EXPECT_THAT(view.recent, ElementsAre(view.openPath)) << "a failed file stays in the list";
    EXPECT_EQ(presenter->Source().sampleCount, 0);
}

TEST_F(LoadingTest, MoreThanTwoChannelsAreRefused) {
    auto path = MakeFile("surround.wav");
    media::scripted::ScriptedFileSpec script;
    script.format = {1, 6, 48000, 576000, 12, 16};
    media->files[path] = script;
    view.openPath = path;
    presenter->OnOpenClick();
    TickUntilLoaded();
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].text,
              L"Sorry! I can't process that file.\nLet me know about this message.");
    EXPECT_EQ(messages.Messages()[0].caption, L"Sorry!");
}

TEST_F(LoadingTest, WhileLoadingTheWindowIsBusyAndShowsProgress) {
    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    media->beforeDelivery = [&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return go; });
    };
    // The second buffer starts 375 us in, half of this duration.
    media->files[speech].duration = 7500;
    view.openPath = speech;
    presenter->OnOpenClick();
    presenter->OnTimer();
    EXPECT_EQ(presenter->State(), LOADING_SOURCE_DATA_STATE);
    EXPECT_EQ(view.progress, 0);
    EXPECT_EQ(presenter->OnClose(), 0);
    view.journal.clear();
    presenter->OnSize(SIZE_RESTORED, 800, 500);  // source is the loading thread's now
    presenter->OnOpenClick();
    presenter->OnRecentFileDoubleClick();
    EXPECT_THAT(view.journal, ElementsAre("Layout 0 800x500", "CenterProgressDialog"));
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    released.notify_all();
    TickUntilLoaded();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);
    EXPECT_EQ(view.progress, 50) << "the last buffer's time over the known duration";
}

TEST_F(LoadingTest, RecentEntriesLoadAndMoveToTopOrReportThatTheyAreGone) {
    auto other = MakeFile("other.wav");
    auto gone = MakeFile("gone.wav");
    presenter->Settings().AddRecent(speech.c_str());
    presenter->Settings().AddRecent(gone.c_str());
    presenter->Settings().AddRecent(other.c_str());
    std::filesystem::remove(std::string(gone.begin(), gone.end()));

    view.selectedRecent = 1;
    presenter->OnRecentFileDoubleClick();
    EXPECT_THAT(messages.Texts(), ElementsAre(L"Sorry, such file doesn't exist..."));
    EXPECT_EQ(messages.Messages()[0].caption, L"");
    EXPECT_THAT(view.recent, ElementsAre(other, speech));
    EXPECT_EQ(presenter->State(), NO_SOURCE_DATA_STATE);

    view.selectedRecent = 1;
    presenter->OnRecentFileDoubleClick();
    EXPECT_THAT(view.recent, ElementsAre(speech, other));
    TickUntilLoaded();
    EXPECT_EQ(presenter->State(), LOADED_SOURCE_DATA_STATE);

    // A second file replaces the first.
    media->files[other] = media->files[speech];
    media->files[other].buffers = {Pcm16({7, 7, 7, 7})};
    view.selectedRecent = 1;
    presenter->OnRecentFileDoubleClick();
    TickUntilLoaded();
    EXPECT_EQ(presenter->Source().sampleCount, 4) << "only the new file's samples";
    EXPECT_THAT(view.recent, ElementsAre(other, speech));
}

TEST_F(LoadingTest, ClosingAfterALoadReleasesEverything) {
    view.openPath = speech;
    presenter->OnOpenClick();
    TickUntilLoaded();
    EXPECT_EQ(presenter->OnClose(), 1);
    EXPECT_EQ(media->LiveGraphs(), 0);
}

}  // namespace
