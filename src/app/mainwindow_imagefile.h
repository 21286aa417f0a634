// The load-and-check flow of an image file, shared by the file button and
// the start button.
#pragma once

#include <QByteArray>
#include <QString>

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

// The device firmware number of the stored version reply (bytes 6 and 7),
// 0 before a reply has arrived.
int replyFirmware(const MainWindow& window);

// Takes the verified bytes of an online download, saved at `path`, as the
// image in memory, as loading that file would (progress range, header
// fields, the version label), and marks them held: the start button writes
// them as they are while filePath names `path`.
void holdDownloaded(MainWindow& window, const QByteArray& image, const QString& path);

// True when the image in memory passes the format checks and is either a
// held download (above) of filePath, or was loaded from filePath whose file
// still has the size and modification time it had then (or is gone). Reads
// nothing but the file's metadata.
bool memoryImageIsCurrent(const MainWindow& window);

} // namespace imagecheck
