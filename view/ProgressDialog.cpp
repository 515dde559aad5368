#include "ProgressDialog.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QScreen>
#include <algorithm>

namespace progress_placement {

QRect Initial(const QRect& ownerFrame, const QRect& available) {
    const int w = ownerFrame.width() / 2;
    int x = ownerFrame.left() + w - w / 2;
    int y = ownerFrame.top() + ownerFrame.height() / 2 - 37;
    x = std::max(x, available.left());
    y = std::max(y, available.top());
    if (x + w > available.right() + 1)
        x = available.right() + 1 - w;
    if (y + kHeight > available.bottom() + 1)
        y = available.bottom() + 1 - kHeight;
    return QRect(x, y, w, kHeight);
}

QRect Centred(const QRect& ownerFrame) {
    const int w = ownerFrame.width() / 2;
    return QRect(ownerFrame.left() + w / 2, ownerFrame.top() + ownerFrame.height() / 2 - 37, w,
                 kHeight);
}

QPoint OwnerFollowing(const QRect& dialogFrame, const QRect& ownerFrame, const QRect& available) {
    const int centreX = dialogFrame.left() + dialogFrame.width() / 2;
    const int centreY = dialogFrame.top() + dialogFrame.height() / 2;
    return QPoint(centreX - ownerFrame.width() / 2,
                  std::max(centreY - ownerFrame.height() / 2, available.top()));
}

}  // namespace progress_placement

namespace {

QRect AvailableArea(const QWidget* widget) {
    const QScreen* screen = widget->screen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(owner), bar_(new QProgressBar(this)) {
    setObjectName(QStringLiteral("ProgressDialog"));
    setWindowTitle(QStringLiteral("Loading..."));
    setModal(false);
    bar_->setObjectName(QStringLiteral("ProgressBar"));
    bar_->setAccessibleName(QStringLiteral("Loading progress"));
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    const QRect frame = progress_placement::Initial(owner->frameGeometry(), AvailableArea(owner));
    PlaceFrame(frame);
}

void ProgressDialog::PlaceFrame(const QRect& rect) {
    // The frame is the client area plus the decoration, known only once the window
    // manager has framed the window; until then the owner's is the best guess.
    const QWidget* framed = isVisible() || !parentWidget() ? this : parentWidget();
    const QSize decoration = framed->frameGeometry().size() - framed->size();
    placedAt_ = rect.topLeft();
    placed_ = true;
    resize(rect.size() - decoration);
    move(rect.topLeft());
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ProgressDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceBar();
}

void ProgressDialog::PlaceBar() {
    const QRect c = rect();
    bar_->setGeometry(10, (c.height() - 25) / 2, c.width() - 20, 25);
}

void ProgressDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    QWidget* owner = parentWidget();
    if (!owner || !isVisible() || (placed_ && frameGeometry().topLeft() == placedAt_))
        return;
    const QPoint target = progress_placement::OwnerFollowing(
        frameGeometry(), owner->frameGeometry(), AvailableArea(owner));
    if (target != owner->frameGeometry().topLeft())
        owner->move(target);
}
