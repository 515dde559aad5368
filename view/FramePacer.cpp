#include "FramePacer.h"

#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kUsualRefreshHz = 60.0;
}  // namespace

FramePacer::FramePacer(QWidget* window, int slackMs, std::function<void()> show)
    : window_(window),
      slackMs_(slackMs),
      show_(std::move(show)),
      holdTimer_(new QTimer(window)),
      frameNanoseconds_(FrameNanoseconds()) {
    holdTimer_->setSingleShot(true);
    holdTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(holdTimer_, &QTimer::timeout, window, [this] { Show(); });
}

void FramePacer::Request() {
    const std::int64_t remaining = RemainingNanoseconds();
    if (remaining <= 0) {
        holdTimer_->stop();
        Show();
    } else if (!holdTimer_->isActive()) {
        const auto wait = static_cast<int>(std::ceil(static_cast<double>(remaining) / 1e6));
        holdTimer_->start(wait + slackMs_);
    }
}

bool FramePacer::IsDue() const {
    return RemainingNanoseconds() <= 0;
}

// The screen's refresh rate is read once a frame: the window may have moved to
// another screen, and asking on every tick costs more than the rest of the check.
void FramePacer::Painted() {
    sinceFrame_.start();
    frameNanoseconds_ = FrameNanoseconds();
}

// The frame counts from the request to repaint: a request that comes before the
// repaint itself would otherwise be measured from the frame before.
void FramePacer::Show() {
    sinceFrame_.start();
    show_();
}

// How long before a frame is due: none until the first.
std::int64_t FramePacer::RemainingNanoseconds() const {
    return sinceFrame_.isValid() ? frameNanoseconds_ - sinceFrame_.nsecsElapsed() : 0;
}

std::int64_t FramePacer::FrameNanoseconds() const {
    const QScreen* screen = window_->screen();
    double hz = screen ? screen->refreshRate() : 0.0;
    if (!(hz >= 1.0))
        hz = kUsualRefreshHz;
    return static_cast<std::int64_t>(1e9 / hz);
}
