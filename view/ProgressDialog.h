#pragma once
// The modeless "Loading..." window: a progress bar 0..100 over the main window.
// It cannot be closed by the user (the load cannot be cancelled); the view hides
// it. Moving it by hand drags the main window along so that the two stay centred
// on each other. UI thread only.
#include <QDialog>

class QProgressBar;

// Placement rules in frame (outer window) rectangles.
namespace progress_placement {
constexpr int kHeight = 75;
// Where the window first appears: half the owner's width, 75 high, centred over
// the owner and kept on the available screen area.
QRect Initial(const QRect& ownerFrame, const QRect& available);
// Where it goes when the owner moves or is resized.
QRect Centred(const QRect& ownerFrame);
// Where the owner goes so that its centre lies on the dialog's centre; the owner
// keeps its size and is kept below the top of the available area.
QPoint OwnerFollowing(const QRect& dialogFrame, const QRect& ownerFrame, const QRect& available);
}  // namespace progress_placement

class ProgressDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ProgressDialog(QWidget* owner);

    QProgressBar* Bar() const { return bar_; }
    // Places the frame at rect; moves that come from here are not taken for the
    // user's.
    void PlaceFrame(const QRect& rect);

    // Esc does not close the window.
    void reject() override {}

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void PlaceBar();

    QProgressBar* bar_;
    QPoint placedAt_;  // frame position of our own last placement
    bool placed_ = false;
};
