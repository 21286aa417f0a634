// Where the update server is. The build settles the address and the port;
// the tests and the simulator point the updater at a server of their own
// through ScopedServices::server (core/services.h). The updater itself
// reads no option.
#pragma once

#include "core/services.h"

#include <QString>

QString updateServerAddress();
int updateServerPort();

// A --server value: a host name or an IPv4 address (the FTP client speaks
// IPv4 only), then ":PORT" with a port from 1 to 65535, or no port for 21,
// the FTP port. False, leaving `server` as it was, for anything else: no
// host, a port that is no decimal number or out of range, an IPv6 address,
// a host with characters no host name has (which would change the URL).
bool parseServerAddress(const QString& text, UpdateServer* server);

// The login every update server takes.
inline QString updateServerUser()
{
    return QStringLiteral("ftp");
}
inline QString updateServerPassword()
{
    return QStringLiteral("qzx");
}
