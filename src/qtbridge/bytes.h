// Between the protocol core's plain bytes and Qt's byte arrays. A QByteArray
// passes to the core's ByteView parameters as it is; these convert the
// core's results and fill the core's buffers.
#pragma once

#include "protocol/protocol.h"

#include <QByteArray>

inline QByteArray toQByteArray(protocol::ByteView bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

inline protocol::Bytes toBytes(const QByteArray& bytes)
{
    return protocol::ByteView(bytes).copy();
}
