#pragma once
// Shows the program's message boxes as Qt message boxes. A box raised on another
// thread is shown on the UI thread while the raising thread waits for the answer.

// Installs the handler in the message-box service (platform/MessageBox.h). Call on
// the UI thread once the QApplication exists.
void InstallQtMessageBoxes();
