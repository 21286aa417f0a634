// Where the update server is. The build settles the address and the port;
// the tests and the simulator point the updater at a server of their own
// through ScopedServices::server (core/services.h). The updater itself
// reads no option.
#pragma once

#include <QString>

QString updateServerAddress();
int updateServerPort();

// The login every update server takes.
inline QString updateServerUser()
{
    return QStringLiteral("ftp");
}
inline QString updateServerPassword()
{
    return QStringLiteral("qzx");
}
