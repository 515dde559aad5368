#include "OpenFileName.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <algorithm>
#include <cwchar>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Characters of the path's root that always stay: "C:\" or a leading separator.
int RootLength(const wchar_t* path) {
    if (path[0] != L'\0' && path[1] == L':' && IsSeparator(path[2]))
        return 3;
    if (IsSeparator(path[0]))
        return 1;
    return 0;
}

// Takes any existing file whose name is typed or pasted in, also one that the
// filter shown hides: in its existing-file mode Qt's own dialog keeps Open greyed
// out for those. A name that is no existing file is refused with a message when
// Open is pressed, as the Windows dialog does.
class OpenDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        for (const QString& file : selectedFiles()) {
            const QFileInfo info(file);
            // A folder passes: the dialog goes into it.
            if (!info.exists()) {
                QMessageBox::warning(this, windowTitle(),
                                     QStringLiteral("%1\nFile not found.\nCheck the file name "
                                                    "and try again.")
                                         .arg(info.fileName()));
                return;
            }
        }
        QFileDialog::accept();
    }
};

}  // namespace

bool ShowOpenFileDialog(QWidget* parent, OpenFileRequest& request) {
    OpenDialog dialog(parent, QStringLiteral("Open"), request.initialDir);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(request.nameFilters);
    if (request.filterIndex >= 0 && request.filterIndex < request.nameFilters.size()) {
        dialog.selectNameFilter(request.nameFilters.at(request.filterIndex));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    request.fileName = dialog.selectedFiles().constFirst();
    request.filterIndex =
        std::max(0, static_cast<int>(request.nameFilters.indexOf(dialog.selectedNameFilter())));
    return true;
}

QStringList NameFiltersFromMultiString(const wchar_t* filter) {
    QStringList filters;
    if (!filter)
        return filters;
    while (*filter) {
        const QString display = QString::fromWCharArray(filter);
        filter += std::wcslen(filter) + 1;
        const QString patterns =
            QString::fromWCharArray(filter).replace(QLatin1Char(';'), QLatin1Char(' '));
        if (*filter)
            filter += std::wcslen(filter) + 1;
        const QString suffix = QStringLiteral("(%1)").arg(patterns);
        filters << (display.endsWith(suffix) ? display : display + QLatin1Char(' ') + suffix);
    }
    return filters;
}

void WriteBackFolder(const wchar_t* fileName, wchar_t* initialDir) {
    std::fill_n(initialDir, kPathBufferLength, L'\0');
    std::wcsncpy(initialDir, fileName, kPathBufferLength - 1);
    const int root = RootLength(initialDir);
    int i = kPathBufferLength - 1;
    for (; i >= root; --i) {
        if (IsSeparator(initialDir[i]))
            break;
        initialDir[i] = L'\0';
    }
    for (; i >= root && IsSeparator(initialDir[i]); --i)
        initialDir[i] = L'\0';
}
