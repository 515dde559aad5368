#pragma once
// Shows the window's changes at most once a refresh of its screen. The playing
// cursor asks for a redraw on every 10 ms tick, more often than a screen shows a
// picture (60 times a second on most): a frame drawn between two refreshes is
// never seen, yet costs as much as one that is. A request that comes sooner than
// a refresh after the last frame is held, and goes out with the first request
// after the frame is due: while the cursor plays, the next tick brings one. When
// none comes, the held changes are shown at the latest `slack` later; the last
// request is always shown, never dropped. (Showing them exactly when due would
// wake the program once more between two ticks, sixty times a second.)
#include <QElapsedTimer>
#include <functional>

class QTimer;
class QWidget;

class FramePacer {
  public:
    // show puts the held changes on the way to the screen (QWidget::update).
    FramePacer(QWidget* window, int slackMs, std::function<void()> show);

    void Request();
    // Whether a request now would be shown at once.
    bool IsDue() const;
    // The window has painted a frame.
    void Painted();

  private:
    void Show();
    std::int64_t RemainingNanoseconds() const;
    std::int64_t FrameNanoseconds() const;

    QWidget* window_;
    int slackMs_;
    std::function<void()> show_;
    QTimer* holdTimer_;  // a child of the window
    QElapsedTimer sinceFrame_;
    std::int64_t frameNanoseconds_;
};
