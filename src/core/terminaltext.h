// Text from outside (a device, a server, a library's message) fit for a
// terminal or a text log: control characters, DEL and the C1 controls appear
// as \n, \t, \xNN or \u00NN, a backslash as \\, and the line separators and
// the bidirectional overrides as \uNNNN, so no device or server can move the
// cursor, clear the screen, reorder what follows or forge a line. JSON
// records keep the exact value instead (JSON escaping).
#pragma once

#include <QString>

#include <string>

namespace terminaltext {

QString printable(const QString& text);
// UTF-8 in and out; bytes that are no UTF-8 appear as U+FFFD.
std::string printable(const std::string& text);

} // namespace terminaltext
