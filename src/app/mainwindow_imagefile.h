// The load-and-check flow of an image file, shared by the file button and
// the start button.
#pragma once

class MainWindow;

namespace imagecheck {

// Loads the file filePath names (OpenTheFile) and runs the checks in order:
// path given, device family, format, version. Shows the notice of the first
// check that fails and returns false; shows the "lower version" notice and
// returns true for an older file; returns true for a file that passes. A
// file that cannot be read, or is too short or too large to be an image, is
// refused as malformed: the image loaded before stays in memory but is no
// longer the one filePath names.
bool loadAndCheck(MainWindow& window);

// True when the image in memory was loaded from filePath, passes the format
// checks, and the file still has the size and modification time it had then
// (or is gone). Reads nothing but the file's metadata.
bool memoryImageIsCurrent(const MainWindow& window);

} // namespace imagecheck
