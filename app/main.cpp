// Sayalike: a desktop pronunciation trainer.
#include <QApplication>
#include <QScreen>

#include "GstBackend.h"
#include "IniReg.h"
#include "Media.h"
#include "Presenter.h"
#include "QtMessageBox.h"
#include "View.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    InstallQtMessageBoxes();
    media::SetMediaFactory(CreateGstMediaFactory());

    int result = 0;
    {
        View view;
        QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        Presenter presenter(&view, std::make_unique<IniReg>(screen.width(), screen.height()));
        thePresenter = &presenter;
        result = presenter.Run();
        thePresenter = nullptr;
    }
    // Every graph was released when the window closed; the backend goes last.
    media::SetMediaFactory(nullptr);
    return result;
}
