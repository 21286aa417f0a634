// Where firmware lives on the update server and beside the executable: the
// model table that maps a device firmware number to its model directory, the
// names of version lists and images, and the check that keeps a version
// list's first line from leading a download out of its model directory.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The model directory ("KRV" and four digits) of a device firmware number,
// or an empty text when the number belongs to no model.
QString modelDirectory(int firmwareNumber);

// "KRV3200/KRV3200.txt" for "KRV3200".
QString versionListPath(const QString& model);

// "KRV3200/3215.bin" for "KRV3200" and "3215".
QString imagePath(const QString& model, const QString& version);

// The suffixes below the application directory made at start-up, in order.
QStringList localDirectorySuffixes();

// A version names a file inside its model directory only: no path
// separators, no "..", no control characters.
bool isSafeVersionLine(const QString& line);

// The warning for a version list that cannot be had.
void showNetworkWarning(QWidget* window);
