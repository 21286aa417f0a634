// The notices' texts as the window shows them: the plain table of
// upgrade/notices.h in the language asked for, through the window's
// translation function where the notice is translated.
#pragma once

#include "upgrade/notices.h"

#include <QString>

namespace notices {

QString title(Id id, bool chinese);
QString text(Id id, bool chinese);

// The completion box's button text.
QString completionButton(bool chinese);

} // namespace notices
