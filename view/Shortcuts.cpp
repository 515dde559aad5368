#include "Shortcuts.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QShortcut>
#include <QSlider>

#include "IPresenter.h"
#include "IconButton.h"

namespace {

bool IsEnter(const QKeyEvent& key) {
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

// Keeps the window's keys away from a focused list or combo box where they mean
// something there: accepting the shortcut override hands the key to the widget.
// Enter on a selected recent file opens it.
class OwnKeys : public QObject {
  public:
    OwnKeys(QObject* parent, std::function<void()> openRecent)
        : QObject(parent), openRecent_(std::move(openRecent)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
            return false;
        const auto& key = static_cast<QKeyEvent&>(*event);
        if ((key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier)
            return false;
        if (auto* list = qobject_cast<QListWidget*>(watched)) {
            if (event->type() == QEvent::ShortcutOverride) {
                if (key.key() == Qt::Key_Space)
                    event->accept();
            } else if (IsEnter(key) && !list->selectedItems().isEmpty()) {
                openRecent_();
                return true;
            }
            return false;
        }
        // A focused volume keeps its arrows.
        if (event->type() == QEvent::ShortcutOverride && qobject_cast<QSlider*>(watched) &&
            (key.key() == Qt::Key_Left || key.key() == Qt::Key_Right))
            event->accept();
        if (event->type() == QEvent::ShortcutOverride && qobject_cast<QComboBox*>(watched)) {
            if (key.key() == Qt::Key_Space ||
                (!key.text().isEmpty() && key.text().front().isLetterOrNumber()))
                event->accept();
        }
        return false;
    }

  private:
    std::function<void()> openRecent_;
};

void AddKey(QWidget* window, IconButton* button, const QKeySequence& key, const QString& name) {
    button->SetKeyName(name);
    auto* shortcut = new QShortcut(key, window);
    // click() does nothing on a disabled button, as a mouse click does nothing.
    QObject::connect(shortcut, &QShortcut::activated, button, [button] { button->click(); });
}

}  // namespace

void AddShortcuts(QWidget* window, const ControlTable& controls, QListWidget* recentList,
                  std::function<void()> openRecent) {
    AddKey(window, controls.playButton, QKeySequence(Qt::Key_Space), QStringLiteral("Space"));
    AddKey(window, controls.loopButton, QKeySequence(Qt::Key_L), QStringLiteral("L"));
    AddKey(window, controls.zoomInButton, QKeySequence(Qt::Key_Plus), QStringLiteral("+"));
    AddKey(window, controls.zoomOutButton, QKeySequence(Qt::Key_Minus), QStringLiteral("-"));
    AddKey(window, controls.openButton, QKeySequence(Qt::CTRL | Qt::Key_O),
           QStringLiteral("Ctrl+O"));
    for (bool next : {true, false}) {
        auto* shortcut = new QShortcut(QKeySequence(next ? Qt::Key_Right : Qt::Key_Left), window);
        QObject::connect(shortcut, &QShortcut::activated, window, [next] {
            if (thePresenter)
                thePresenter->OnPhraseKey(next);
        });
    }
    auto* keys = new OwnKeys(window, std::move(openRecent));
    for (QWidget* widget : std::initializer_list<QWidget*>{
             recentList, controls.inputDeviceCombo, controls.inputPinCombo, controls.advanceCombo,
             controls.speedCombo, controls.micVolumeTrackbar, controls.speakerVolumeTrackbar})
        widget->installEventFilter(keys);
}
