#pragma once
// A real View driven by a small recording presenter, for the gui tier.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "IPresenter.h"
#include "View.h"

// Records every call and forwards the ones the view depends on (creation, layout,
// painting) the way the real presenter does. Optional hooks act on the others.
class RecordingPresenter : public IPresenter {
  public:
    explicit RecordingPresenter(View& view) : view_(view) {}

    int Count(const std::string& call) const {
        auto found = calls_.find(call);
        return found == calls_.end() ? 0 : found->second;
    }

    int createResult = 0;
    int closeResult = 1;
    std::vector<POINTS> downs, drags, ups;
    std::vector<bool> lines, pages;
    std::function<void()> onMove, onScrollThumbTrack, onTimer;
    std::function<void(bool)> onScrollLine, onScrollPage;

    int Run() override { return 0; }
    int OnCreate(HWND hwnd) override {
        Record("OnCreate");
        if (createResult < 0)
            return createResult;
        return view_.OnCreate(hwnd) < 0 ? -1 : 0;
    }
    void OnSize(int sizeType, int width, int height) override {
        Record("OnSize");
        if (sizeType != SIZE_MINIMIZED)
            view_.Layout(sizeType, width, height);
    }
    void OnMove() override {
        Record("OnMove");
        if (onMove)
            onMove();
    }
    int OnGetMinMaxInfo(MINMAXINFO* info) override {
        info->ptMinTrackSize = {544, 400};
        return 0;
    }
    int OnPaint() override {
        view_.OnPaint();
        return 0;
    }
    int OnClose() override {
        Record("OnClose");
        return closeResult;
    }
    void OnPlayClick() override { Record("OnPlayClick"); }
    void OnLoopClick() override { Record("OnLoopClick"); }
    void OnZoomInClick() override { Record("OnZoomInClick"); }
    void OnZoomOutClick() override { Record("OnZoomOutClick"); }
    void OnOpenClick() override { Record("OnOpenClick"); }
    void OnRecentFileDoubleClick() override { Record("OnRecentFileDoubleClick"); }
    void OnScrollLine(bool right) override {
        lines.push_back(right);
        if (onScrollLine)
            onScrollLine(right);
    }
    void OnScrollPage(bool right) override {
        pages.push_back(right);
        if (onScrollPage)
            onScrollPage(right);
    }
    void OnScrollThumbTrack() override {
        Record("OnScrollThumbTrack");
        if (onScrollThumbTrack)
            onScrollThumbTrack();
    }
    void OnMouseDown(const POINTS* point) override { downs.push_back(*point); }
    void OnMouseDrag(const POINTS* point) override { drags.push_back(*point); }
    void OnMouseUp(const POINTS* point) override { ups.push_back(*point); }
    void OnTimer() override {
        Record("OnTimer");
        if (onTimer)
            onTimer();
    }
    void OnMicVolumeChange() override { Record("OnMicVolumeChange"); }
    void OnSpeakerVolumeChange() override { Record("OnSpeakerVolumeChange"); }
    void OnInputDeviceChange() override { Record("OnInputDeviceChange"); }
    void OnInputPinChange() override { Record("OnInputPinChange"); }
    void OnCaptureEvent() override { Record("OnCaptureEvent"); }

  private:
    void Record(const std::string& call) { ++calls_[call]; }

    View& view_;
    std::map<std::string, int> calls_;
};

// A shown main window of 700 x 400 client pixels at (100, 100).
class ViewTest : public ::testing::Test {
  protected:
    static constexpr int kX = 100;
    static constexpr int kY = 100;
    static constexpr int kWidth = 700;
    static constexpr int kHeight = 400;

    void SetUp() override {
        thePresenter = &presenter;
        ASSERT_TRUE(view.CreateAndShow(kX, kY, kWidth, kHeight, false));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window()));
    }
    void TearDown() override { thePresenter = nullptr; }

    QWidget* Window() const { return view.MainWidget(); }

    template <class T = QWidget>
    T* Control(const char* name) const {
        T* control = Window()->findChild<T*>(QLatin1String(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    // Resizes the client area and waits until the presenter has laid it out.
    void ResizeTo(int width, int height) {
        Window()->resize(width, height);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Window()->size() == QSize(width, height); }));
        QApplication::processEvents();
    }

    QImage Picture() const {
        return Window()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    View view;
    RecordingPresenter presenter{view};
};

inline QRgb Rgb(int r, int g, int b) {
    return qRgb(r, g, b);
}
