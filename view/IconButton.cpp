#include "IconButton.h"

#include <QPainter>

#include "Pictures.h"

IconButton::IconButton(QWidget* parent) : QAbstractButton(parent) {
    // Repaint on entering and leaving, for the "hot" look.
    setAttribute(Qt::WA_Hover);
    resize(kSize, kSize);
}

void IconButton::SetPictures(const QString& set, const QString& label) {
    set_ = set;
    label_ = label;
    setAccessibleName(label);
    UpdateToolTip();
    update();
}

void IconButton::SetKeyName(const QString& key) {
    key_ = key;
    UpdateToolTip();
}

void IconButton::UpdateToolTip() {
    setToolTip(key_.isEmpty() ? label_ : label_ + QStringLiteral(" (") + key_ + QLatin1Char(')'));
}

QString IconButton::CurrentPicture() const {
    using pictures::Look;
    Look look = Look::Normal;
    if (!isEnabled()) {
        look = Look::Disabled;
    } else if (isDown()) {
        look = Look::Pressed;
    } else if (underMouse()) {
        look = Look::Hot;
    }
    return pictures::ButtonPicture(set_, look);
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    pictures::Draw(painter, CurrentPicture(), rect());
    if (hasFocus()) {
        QPen dots(QColor(0, 0, 0), 1, Qt::DotLine);
        dots.setCosmetic(true);
        painter.setPen(dots);
        painter.drawRect(rect().adjusted(4, 4, -5, -5));
    }
}
