// Sayalike: a desktop pronunciation trainer.
#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "CommandLine.h"
#include "GstBackend.h"
#include "IniReg.h"
#include "Media.h"
#include "MessageBox.h"
#include "Presenter.h"
#include "QtMessageBox.h"
#include "View.h"

namespace {

// A file named on the command line takes the road of a file chosen in the Open
// dialog: the dialog answers it once, so it heads the recent list, gives the
// dialog its folder and loads. A file that is not there gets the message of a
// recent file that has gone, and the window stays empty.
void OpenAtStart(View& view, Presenter& presenter, const QString& file) {
    // A message box shown while the window is created runs the event loop
    // early; the file waits until the window is up.
    if (!view.MainWidget() || !view.MainWidget()->isVisible()) {
        QTimer::singleShot(100, qApp,
                           [&view, &presenter, file] { OpenAtStart(view, presenter, file); });
        return;
    }
    if (!QFileInfo(file).isFile() || !QFileInfo(file).isReadable()) {
        MessageBoxW(L"Sorry, such file doesn't exist...", L"", MB_OK);
        return;
    }
    view.SetOpenDialogFunction([file](QWidget*, OpenFileRequest& request) {
        request.fileName = file;
        return true;
    });
    presenter.OnOpenClick();
    view.SetOpenDialogFunction(ShowOpenFileDialog);
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine command = ParseCommandLine(argc, argv);
    if (command.exitCode)
        return *command.exitCode;

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
        // A newcomer finds the sample recording in the recent list. The store is
        // empty, so loading it keeps this list.
        if (const QString sample = SampleFile(); !sample.isEmpty() && !settings->HasStoredValues())
            settings->AddRecent(sample.toStdWString().c_str());
        Presenter presenter(&view, std::move(settings));
        thePresenter = &presenter;
        if (!command.file.isEmpty()) {
            QTimer::singleShot(0, &application, [&view, &presenter, &command] {
                OpenAtStart(view, presenter, command.file);
            });
        }
        result = presenter.Run();
        thePresenter = nullptr;
    }
    // Every graph was released when the window closed; the backend goes last.
    media::SetMediaFactory(nullptr);
    return result;
}
