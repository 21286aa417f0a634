#include "online/updateserver.h"

#include "core/services.h"

QString updateServerAddress()
{
    const UpdateServer server = services::updateServer();
    return server.address.isEmpty() ? QStringLiteral(UPDATER_SERVER_ADDRESS) : server.address;
}

int updateServerPort()
{
    const UpdateServer server = services::updateServer();
    return server.address.isEmpty() ? UPDATER_SERVER_PORT : server.port;
}
