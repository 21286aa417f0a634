// The program's notices shown over the window, in the box forms of
// core/messagebox.h, each carrying its identity (upgrade/notices.h).
#pragma once

#include "upgrade/notices.h"

#include <QString>

class MainWindow;

namespace notices {

// A file notice, in the form of MainWindow::onInformationTip.
void fileNotice(MainWindow& window, Id id);

// The numbered errors of the upgrade: 1 start time-out, 2 DSP stage
// time-out, 4 time-out after an end frame, 5 ARM stage time-out.
void numberedError(MainWindow& window, int number);

// A notice in the system language: the Chinese notice form or the English
// warning form (the numbered errors, the device link's refusals).
void languageNotice(MainWindow& window, Id id);

// The completion box; true when it was accepted.
bool completion(MainWindow& window);

// A local file of the online update that cannot be created or written:
// its path and the operating system's reason, in the system language. Sets
// the window's localWriteFailed, so the failed fetch is not reported again
// as a network problem.
void localWriteError(MainWindow& window, const QString& path, const QString& reason);
// The same for errno `error` on `path`, explained by explainWriteFailure
// (core/dataroot.h).
void localWriteError(MainWindow& window, int error, const QString& path);

// The warning for a version list that cannot be had.
void networkWarning(MainWindow& window);

} // namespace notices
