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

bool parseServerAddress(const QString& text, UpdateServer* server)
{
    constexpr int kMaxHostName = 253;
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString host = colon < 0 ? text : text.left(colon);
    const QString digits = colon < 0 ? QStringLiteral("21") : text.mid(colon + 1);
    const auto in = [](QChar c, char low, char high) {
        return c >= QLatin1Char(low) && c <= QLatin1Char(high);
    };
    if (host.isEmpty() || host.size() > kMaxHostName || digits.isEmpty() || digits.size() > 5)
        return false;
    for (const QChar c : host) {
        if (!in(c, 'a', 'z') && !in(c, 'A', 'Z') && !in(c, '0', '9') && c != QLatin1Char('.') &&
            c != QLatin1Char('-'))
            return false;
    }
    int port = 0;
    for (const QChar c : digits) {
        if (!in(c, '0', '9'))
            return false;
        port = port * 10 + (c.unicode() - '0');
    }
    if (port < 1 || port > 65535)
        return false;
    *server = UpdateServer{host, port};
    return true;
}
