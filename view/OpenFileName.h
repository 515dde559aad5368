#pragma once
// The pieces of the Open dialog that do not need a window: turning the filter
// multi-string into Qt name filters and deriving the folder to start in next time.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Path buffers handed across the view interface hold this many characters,
// terminator included.
constexpr int kPathBufferLength = 260;

// What the Open dialog starts with and what it answers.
struct OpenFileRequest {
    QString initialDir;
    QStringList nameFilters;  // e.g. "Audio Files (*.mp3)"
    int filterIndex = 0;      // 0-based, in and out
    QString fileName;         // out: the chosen file
};

// Shows an Open dialog for request over parent; true and request filled on OK,
// false on cancel.
using OpenDialogFunction = std::function<bool(QWidget* parent, OpenFileRequest& request)>;

// The file dialog: an existing file, shown by the chosen filter or typed in.
bool ShowOpenFileDialog(QWidget* parent, OpenFileRequest& request);

// filter: pairs of display text and pattern list ("*.mp3;*.mp2"), each ended by a
// NUL, the whole ended by a second NUL. A display text that does not already end
// with its patterns in parentheses gets them appended, as Qt reads the patterns
// from there.
QStringList NameFiltersFromMultiString(const wchar_t* filter);

// Writes the folder of fileName into initialDir (kPathBufferLength characters):
// the file name and any trailing separators ('/' or '\') are cut off, but the root
// stays whole: "C:\a.wav" gives "C:\", "/a.wav" gives "/", "/home/u/a.wav" gives
// "/home/u".
void WriteBackFolder(const wchar_t* fileName, wchar_t* initialDir);
