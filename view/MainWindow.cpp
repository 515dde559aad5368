#include "MainWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <algorithm>
#include <limits>

#include "IPresenter.h"

namespace {

const QEvent::Type kWindowMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class WindowMessageEvent : public QEvent {
  public:
    explicit WindowMessageEvent(std::uint32_t message)
        : QEvent(kWindowMessageEvent), message_(message) {}
    std::uint32_t Message() const { return message_; }

  private:
    std::uint32_t message_;
};

// A mouse message carries its client point as two signed 16-bit values.
POINTS ToPoints(const QPoint& p) {
    constexpr int kMin = std::numeric_limits<std::int16_t>::min();
    constexpr int kMax = std::numeric_limits<std::int16_t>::max();
    POINTS points;
    points.x = static_cast<std::int16_t>(std::clamp(p.x(), kMin, kMax));
    points.y = static_cast<std::int16_t>(std::clamp(p.y(), kMin, kMax));
    return points;
}

// Only a plain left button counts for pressing and dragging: no other button held,
// and neither Shift nor Ctrl, the keys a mouse message reports with its buttons.
bool OnlyLeftButton(const QMouseEvent* event) {
    const Qt::KeyboardModifiers reported = Qt::ShiftModifier | Qt::ControlModifier;
    return event->buttons() == Qt::LeftButton && (event->modifiers() & reported) == 0;
}

// Screen readers would take a plain top-level widget for a filler; this one is the
// program's window, and its title is its name.
QAccessibleInterface* AccessibleMainWindow(const QString&, QObject* object) {
    if (auto* window = qobject_cast<MainWindow*>(object))
        return new QAccessibleWidget(window, QAccessible::Window);
    return nullptr;
}

}  // namespace

MainWindow::MainWindow() {
    setObjectName(QStringLiteral("MainWindow"));
    // The presenter's paint covers every pixel, so Qt need not fill the
    // background before it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    static const bool accessible = [] {
        QAccessible::installFactory(AccessibleMainWindow);
        return true;
    }();
    (void)accessible;
}

// No message this window handles uses its parameters.
void MainWindow::PostMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) {
    QCoreApplication::postEvent(this, new WindowMessageEvent(message));
}

bool MainWindow::event(QEvent* event) {
    if (event->type() != kWindowMessageEvent)
        return QWidget::event(event);
    const auto* message = static_cast<WindowMessageEvent*>(event);
    if (message->Message() == WM_CAPTURE_NOTIFY && thePresenter)
        thePresenter->OnCaptureEvent();
    return true;
}

void MainWindow::paintEvent(QPaintEvent*) {
    if (!thePresenter)
        return;
    painting_ = true;
    thePresenter->OnPaint();
    painting_ = false;
}

int MainWindow::SizeType() const {
    if (isMinimized())
        return SIZE_MINIMIZED;
    return isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
}

void MainWindow::resizeEvent(QResizeEvent*) {
    if (thePresenter)
        thePresenter->OnSize(SizeType(), width(), height());
}

void MainWindow::moveEvent(QMoveEvent*) {
    if (thePresenter)
        thePresenter->OnMove();
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimising keeps the size, so no resize event tells the presenter.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && thePresenter) {
        thePresenter->OnSize(SIZE_MINIMIZED, width(), height());
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (thePresenter && thePresenter->OnClose() == 0) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::exit(0);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !OnlyLeftButton(event) || !thePresenter)
        return;
    const POINTS point = ToPoints(event->position().toPoint());
    thePresenter->OnMouseDown(&point);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!OnlyLeftButton(event) || !thePresenter)
        return;
    const POINTS point = ToPoints(event->position().toPoint());
    thePresenter->OnMouseDrag(&point);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !thePresenter)
        return;
    const POINTS point = ToPoints(event->position().toPoint());
    thePresenter->OnMouseUp(&point);
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !OnlyLeftButton(event) || !thePresenter)
        return;
    const POINTS point = ToPoints(event->position().toPoint());
    thePresenter->OnMouseDoubleClick(&point);
}
