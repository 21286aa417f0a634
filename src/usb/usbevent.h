#pragma once
#include <QByteArray>
#include <QEvent>
#include <cstdint>
constexpr int USBEventType = QEvent::User + 25;
class USBEvent : public QEvent {
public:
    USBEvent() : QEvent(static_cast<QEvent::Type>(USBEventType)) {}
    QByteArray reportData;
    std::uint8_t reportId = 0;
};
