// One input report of the device, posted by the reader thread to the main
// window: reportData holds the whole 20-byte read buffer (report id first,
// zero past the end of the device's report), reportId a copy of its byte 0.
#pragma once

#include "protocol/protocol.h"

#include <QByteArray>
#include <QEvent>

#include <cstddef>
#include <cstdint>

constexpr int USBEventType = QEvent::User + 25; // 1025
constexpr int kInputReportSize = int(protocol::kInputReportSize);

class USBEvent : public QEvent {
public:
    USBEvent()
        : QEvent(static_cast<QEvent::Type>(USBEventType))
        , reportData(kInputReportSize, '\0')
    {}
    // A copy of the first kInputReportSize bytes of `buffer`.
    explicit USBEvent(const std::uint8_t* buffer)
        : QEvent(static_cast<QEvent::Type>(USBEventType))
        , reportData(reinterpret_cast<const char*>(buffer), kInputReportSize)
        , reportId(buffer[0])
    {}

    QByteArray reportData;
    std::uint8_t reportId = 0;
};
