// The load-and-check flow of an image file, shared by the file button and
// the start button.
#pragma once

class MainWindow;

namespace imagecheck {

enum class Mode {
    // After the file dialog: a file that cannot be opened leaves the image
    // loaded before in place, and the checks run on it.
    Select,
    // Before an upgrade starts: the file filePath names must be the one in
    // memory, so a file that cannot be opened is refused.
    Start,
};

// Loads the file filePath names (OpenTheFile) and runs the checks in order:
// path given, device family, format, version. Shows the notice of the first
// check that fails and returns false; shows the "lower version" notice and
// returns true for an older file; returns true for a file that passes.
bool loadAndCheck(MainWindow& window, Mode mode);

// True when the image in memory was loaded from filePath, passes the format
// checks, and the file still holds those bytes (or can no longer be read).
bool memoryImageIsCurrent(const MainWindow& window);

} // namespace imagecheck
