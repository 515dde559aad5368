#include "SourceViewDecorator.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QSlider>

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
    if (!c.inputPinCombo->isHidden())
        c.inputPinCombo->setGeometry(x, y, w, kControlHeight);
    c.listenLabel->setGeometry(labelPos_.x(), labelPos_.y(), kLabelWidth, kControlHeight);
    c.sayLabel->setGeometry(labelPos_.x() + kLampSpacing, labelPos_.y(), kLabelWidth,
                            kControlHeight);
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
    Inner().Draw(painter);
}
