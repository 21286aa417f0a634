#include "core/resourcebundle.h"

#include <QtGlobal>

#include <mutex>

void loadResourceBundle()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(resources); });
}
