#include "core/language.h"

#include "core/services.h"

QLocale::Language systemLanguage()
{
    const QLocale::Language pinned = services::language();
    if (pinned != QLocale::AnyLanguage)
        return pinned;
    return QLocale::system().language();
}

bool systemIsChinese()
{
    return systemLanguage() == QLocale::Chinese;
}
