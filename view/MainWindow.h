#pragma once
// The program's top-level window. It turns every window event into one call on the
// presenter (through thePresenter) and decides nothing itself. Other threads may
// post it messages (IWindow::PostMessage); they are handled on the UI thread.
#include <QWidget>

#include "Window.h"

class MainWindow : public QWidget, public IWindow {
    Q_OBJECT
  public:
    MainWindow();

    // Any thread.
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // True while the window handles a paint event, the only time it may be painted.
    bool IsPainting() const { return painting_; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    int SizeType() const;

    bool painting_ = false;
};
