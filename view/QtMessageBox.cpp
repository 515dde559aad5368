#include "QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "MessageBox.h"

namespace {

int ShowOnThisThread(const std::wstring& text, const std::wstring& caption, unsigned flags) {
    QMessageBox box(flags & MB_ICONERROR ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromStdWString(caption), QString::fromStdWString(text),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    // The box belongs to no window, yet it must come up in front of the program's.
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return IDOK;
}

int ShowOnUiThread(const std::wstring& text, const std::wstring& caption, unsigned flags) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return IDOK;
    if (QThread::currentThread() == app->thread())
        return ShowOnThisThread(text, caption, flags);
    int answer = IDOK;
    QMetaObject::invokeMethod(
        app, [&] { answer = ShowOnThisThread(text, caption, flags); },
        Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace

void InstallQtMessageBoxes() {
    SetMessageBoxHandler(ShowOnUiThread);
}
