#pragma once
// The main window's keys: Space plays or pauses, L loops or pauses, + and - zoom,
// Ctrl+O opens, and Enter on a recent file opens it. Each key is a click on its
// button, so a disabled button ignores its key too; the button's tooltip names
// it. A focused list or combo box keeps the keys it uses itself: Space selects in
// the list and opens the combo box, and letters and digits pick a combo box entry.
#include <functional>

#include "ControlTable.h"

class QListWidget;
class QWidget;

// openRecent: what a double-click on a recent file does.
void AddShortcuts(QWidget* window, const ControlTable& controls, QListWidget* recentList,
                  std::function<void()> openRecent);
