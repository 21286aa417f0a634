#include "online/updateserver.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
struct Server {
    QMutex mutex;
    QString address = QStringLiteral(UPDATER_SERVER_ADDRESS);
    int port = UPDATER_SERVER_PORT;
};

Server& server()
{
    static Server s;
    return s;
}
} // namespace

QString updateServerAddress()
{
    QMutexLocker lock(&server().mutex);
    return server().address;
}

int updateServerPort()
{
    QMutexLocker lock(&server().mutex);
    return server().port;
}

void setUpdateServer(const QString& address, int port)
{
    QMutexLocker lock(&server().mutex);
    server().address = address;
    server().port = port;
}
