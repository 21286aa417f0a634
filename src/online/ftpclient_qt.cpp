// The Qt side of the FTP client: its trace goes to the debug log, and the
// window's texts arrive as QString.
#include "online/ftpclient.h"

#include "core/terminaltext.h"

#include <QDebug>
#include <QString>

void ftpTrace(const std::string& text)
{
    // The server's replies are its own text: escaped, so none moves the
    // cursor or forges a line of the log. The line end the protocol adds is
    // left out; one inside (a multi-line reply) shows as \x0d\n.
    QString line = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    if (line.endsWith(QLatin1String("\r\n")))
        line.chop(2);
    qDebug().noquote().nospace() << terminaltext::printable(line);
}

int FtpClient::SetServerInfo(const QString& ip, const QString& user, const QString& pass, int port)
{
    return SetServerInfo(ip.toUtf8().toStdString(), user.toUtf8().toStdString(), pass.toUtf8().toStdString(),
                         port);
}
