// The upgrade's notices shown over the window, in the box forms of
// core/messagebox.h, so tests and the unattended driver see each one.
#pragma once

#include "upgrade/notices.h"

class MainWindow;

namespace notices {

// Shows `wording` through MainWindow::onInformationTip.
void fileNotice(MainWindow& window, const Wording& wording);

// The numbered errors of the upgrade: 1 start time-out, 2 DSP stage
// time-out, 4 time-out after an end frame, 5 ARM stage time-out.
void numberedError(MainWindow& window, int number);

// The completion box; true when it was accepted.
bool completion(MainWindow& window);

} // namespace notices
