#include "SourceViewDecorator.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QSlider>

#include <algorithm>

#include "IView.h"
#include "IconButton.h"
#include "Pictures.h"

SourceViewDecorator::SourceViewDecorator(int left, int top, int right, int bottom,
                                         std::unique_ptr<IVisualComponent> inner,
                                         const ControlTable* controls)
    : Decorator(left, top, right, bottom, 0, std::move(inner)), controls_(controls) {}

void SourceViewDecorator::SetBounds(int l, int t, int r, int b) {
    StoreBounds(l, t, r, b);
    const ControlTable& c = *controls_;

    const int trackbarHeight = b - t - kHeaderHeight - kFooterHeight;
    const int x1 = l + kMarginLeft / 2 - kTrackbarWidth / 2;
    c.micVolumeTrackbar->setGeometry(x1, kHeaderHeight, kTrackbarWidth, trackbarHeight);
    micIconPos_ = QPoint(x1, t + kHeaderHeight / 2 - 8);

    const int x2 = r - kMarginRight / 2 - kTrackbarWidth / 2;
    c.speakerVolumeTrackbar->setGeometry(x2, kHeaderHeight, kTrackbarWidth, trackbarHeight);
    speakerIconPos_ = QPoint(x2, t + kHeaderHeight / 2 - 8);

    lampPos_ = QPoint(x2 - 140, t + kHeaderHeight / 2 - 5);
    labelPos_ = QPoint(x2 - 124, t + kHeaderHeight / 2 - 5);

    LayoutDeviceCombos();

    const int buttonY = b - (kFooterHeight + kButtonHeight) / 2;
    c.playButton->setGeometry(l + kMarginLeft, buttonY, kButtonWidth, kButtonHeight);
    c.loopButton->setGeometry(l + kMarginLeft + kButtonWidth, buttonY, kButtonWidth, kButtonHeight);
    c.openButton->setGeometry(r - kMarginRight - kButtonWidth, buttonY, kButtonWidth,
                              kButtonHeight);
    c.zoomOutButton->setGeometry(r - kMarginRight - 2 * kButtonWidth, buttonY, kButtonWidth,
                                 kButtonHeight);
    c.zoomInButton->setGeometry(r - kMarginRight - 3 * kButtonWidth, buttonY, kButtonWidth,
                                kButtonHeight);

    Inner().SetBounds(l + kMarginLeft, t + kHeaderHeight, r - kMarginRight, b - kFooterHeight);
}

void SourceViewDecorator::LayoutDeviceCombos() {
    const ControlTable& c = *controls_;
    const int y = top_ + kHeaderHeight / 2 - kControlHeight / 2;
    int x = left_ + kMarginLeft;
    const int w = static_cast<int>(0.3 * (right_ - left_));
    // isHidden, not isVisible: the window itself may not be shown yet.
    if (!c.inputDeviceCombo->isHidden()) {
        c.inputDeviceCombo->setGeometry(x, y, w, kControlHeight);
        x += w + 10;
    }
    if (!c.inputPinCombo->isHidden()) {
        c.inputPinCombo->setGeometry(x, y, w, kControlHeight);
        x += w + 10;
    }
    PlaceStudyCombos(x, y);
    c.listenLabel->setGeometry(labelPos_.x(), labelPos_.y(), kLabelWidth, kControlHeight);
    c.sayLabel->setGeometry(labelPos_.x() + kLampSpacing, labelPos_.y(), kLabelWidth,
                            kControlHeight);
}

// The study choices take what the device lists leave before the lamps; where that
// is too little they go to the middle of the button row if it has more room, and
// narrow down to the room they get.
void SourceViewDecorator::PlaceStudyCombos(int left, int y) {
    QComboBox* advance = controls_->advanceCombo;
    QComboBox* speed = controls_->speedCombo;
    int a = advance->sizeHint().width(), s = speed->sizeHint().width();
    int room = lampPos_.x() - 10 - left;
    const int buttonsLeft = left_ + kMarginLeft + 2 * kButtonWidth + 10;
    const int footerRoom = right_ - kMarginRight - 3 * kButtonWidth - 10 - buttonsLeft;
    if (room < a + 10 + s && footerRoom > room) {
        room = footerRoom;
        left = buttonsLeft + std::max(0, room - a - 10 - s) / 2;
        y = bottom_ - kFooterHeight / 2 - kControlHeight / 2;
    }
    if (room < a + 10 + s) {
        const int fit = std::max(room - 10, 0);
        a = a * fit / (a + s);
        s = fit - a;
    }
    advance->setGeometry(left, y, a, kControlHeight);
    speed->setGeometry(left + a + 10, y, s, kControlHeight);
}

void SourceViewDecorator::DrawInputLevel(QPainter& painter) const {
    const QRect meter(lampPos_.x() + kLampSpacing, lampPos_.y() + MeterTop(),
                      kLampSize + kLabelWidth, 4);
    painter.fillRect(meter, QColor(60, 60, 60));
    const int inside = meter.width() - 2;
    painter.fillRect(meter.x() + 1, meter.y() + 1, inside * std::clamp(inputLevel_, 0, 100) / 100,
                     2, QColor(40, 200, 60));
    // Where the voice test starts to hear a voice.
    painter.fillRect(meter.x() + 1 + inside * IView::kInputLevelThreshold / 100, meter.y(), 1, 4,
                     QColor(250, 250, 250));
}

void SourceViewDecorator::Draw(QPainter& painter) {
    pictures::Draw(painter, pictures::kMicrophone, QRect(micIconPos_, QSize(kIconSize, kIconSize)));
    pictures::Draw(painter, pictures::kLoudspeaker,
                   QRect(speakerIconPos_, QSize(kIconSize, kIconSize)));
    const QSize lamp(kLampSize, kLampSize);
    pictures::Draw(painter, listenLamp_ ? pictures::kGreenLamp : pictures::kGreyLamp,
                   QRect(lampPos_, lamp));
    pictures::Draw(painter, sayLamp_ ? pictures::kGreenLamp : pictures::kGreyLamp,
                   QRect(lampPos_ + QPoint(kLampSpacing, 0), lamp));
    if (sayLamp_)
        DrawInputLevel(painter);
    Inner().Draw(painter);
}
