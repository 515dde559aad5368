#pragma once
// A big button that shows only a picture, in the look that fits its state:
// disabled, pressed, under the pointer, or normal. The picture set can be swapped
// (Play shows Pause while playing); the tooltip and accessible name follow it, and
// the tooltip also names the button's key.
#include <QAbstractButton>

class IconButton : public QAbstractButton {
    Q_OBJECT
  public:
    static constexpr int kSize = 45;

    explicit IconButton(QWidget* parent);

    // set: the picture set (see pictures::ButtonPicture); label: tooltip and
    // accessible name.
    void SetPictures(const QString& set, const QString& label);
    // The key that clicks the button, shown in the tooltip: "Play (Space)".
    void SetKeyName(const QString& key);
    const QString& PictureSet() const { return set_; }
    // The picture painted for the button's present state.
    QString CurrentPicture() const;

    QSize sizeHint() const override { return {kSize, kSize}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void UpdateToolTip();

    QString set_;
    QString label_;
    QString key_;
};
