// Offscreen pictures of the main window and its help dialog, for the test
// that compares them with the committed reference pictures and for
// screenshot-tool, which draws them the same way in the Windows build.
#pragma once

#include <QImage>
#include <QLocale>
#include <QString>

namespace rendering {

// Points fontconfig at the DejaVu and Noto CJK fonts only, with a cache of
// its own, so the pictures come out the same on every machine that has
// those two font packages, whatever else is installed. Call it before the
// QApplication is made. False (and why in `error`) when a font folder is
// missing or the configuration cannot be written.
bool pinFonts(QString* error);

struct Pictures {
    QImage window;
    QImage help;
};

// Builds the window without a device (an empty virtual bus) in `language`,
// with a sample path and the progress bar at 40 %, the spinning indicator
// held still, shows it with its help dialog and grabs both. False (and why
// in `error`) when a window is never exposed.
bool render(QLocale::Language language, Pictures* out, QString* error);

} // namespace rendering
