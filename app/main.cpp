// Sayalike: a desktop pronunciation trainer.
#include <QApplication>
#include <QScreen>
#include <vector>

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
        // No screen at all (a desktop that has none attached yet) leaves the
        // store's defaults for an unknown screen.
        const QScreen* primary = QGuiApplication::primaryScreen();
        const QSize screen = primary ? primary->geometry().size() : QSize(0, 0);
        auto settings = std::make_unique<IniReg>(screen.width(), screen.height());
        std::vector<QRect> areas;
        for (const QScreen* each : QGuiApplication::screens())
            areas.push_back(each->availableGeometry());
        if (!areas.empty())
            settings->SetAvailableAreas(std::move(areas));
        Presenter presenter(&view, std::move(settings));
        thePresenter = &presenter;
        result = presenter.Run();
        thePresenter = nullptr;
    }
    // Every graph was released when the window closed; the backend goes last.
    media::SetMediaFactory(nullptr);
    return result;
}
