// Where firmware lives on the update server and beside the executable: the
// model table that maps a device firmware number to its model directory, the
// names of version lists and images, and the check that keeps a version
// list's first line a plain version token.
#pragma once

#include <QString>
#include <QStringList>

// The model directory ("KRV" and four digits) of a device firmware number,
// or an empty text when the number belongs to no model.
QString modelDirectory(int firmwareNumber);
// Whether `name` is a model directory of the table.
bool isModelDirectory(const QString& name);

// "KRV3200/KRV3200.txt" for "KRV3200".
QString versionListPath(const QString& model);

// "KRV3200/3215.bin" for "KRV3200" and "3215".
QString imagePath(const QString& model, const QString& version);

// The suffixes below the application directory made at start-up, in order.
QStringList localDirectorySuffixes();

// The longest version token.
constexpr int kVersionTokenMax = 32;

// A version list's first line becomes part of a server path only when it
// is a plain version token: 1 to kVersionTokenMax letters, digits, ".",
// "-" and "_", beginning with a letter or a digit. Anything else (blanks,
// "/", "%", ";", "?", "..", control characters) makes the list count as
// unavailable.
bool isVersionToken(const QString& line);
