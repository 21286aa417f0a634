// Shared pieces of the window-level upgrade tests: a virtual bus with the
// device, a box presenter that records and answers, image files on disk.
#pragma once

#include "core/filedialog.h"
#include "core/language.h"
#include "core/messagebox.h"
#include "core/processexit.h"
#include "image/firmwareimage.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/linkstate.h"
#include "usb/usbevent.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <functional>
#include <memory>

// The bus with the device plugged (or nothing plugged). Declare it before
// the window so the window goes first.
struct Rig {
    VirtualHidBus bus;
    std::shared_ptr<DeviceModel> device = std::make_shared<DeviceModel>();
    std::string path;

    explicit Rig(bool plugged = true)
    {
        resetLinkState();
        setHidPlatform(&bus);
        if (plugged)
            path = bus.plug(VirtualHidBus::deviceSpec(device));
    }
    ~Rig()
    {
        setBoxPresenter({});
        setOpenFileChooser({});
        setExitHandler({});
        setLanguageOverride(QLocale::AnyLanguage);
        setHidPlatform(nullptr);
        resetLinkState();
    }
    std::size_t sent(DeviceModel::FrameKind kind) const { return device->count(kind); }
};

// Records every box and answers it with its first button; `hook` runs first.
struct Boxes {
    QList<BoxRequest> seen;
    std::function<void(const BoxRequest&)> hook;

    Boxes()
    {
        setBoxPresenter([this](const BoxRequest& box) {
            seen << box;
            if (hook)
                hook(box);
            return box.buttons.testFlag(QMessageBox::Yes) ? int(QMessageBox::Yes) : int(QMessageBox::Ok);
        });
    }
    QStringList texts() const
    {
        QStringList t;
        for (const BoxRequest& b : seen)
            t << b.text;
        return t;
    }
};

inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
}

// A file written here: the big-endian header `dsp`, `version`, `arm`, then `body`.
inline QByteArray rawImage(quint32 dsp, quint32 version, quint32 arm, const QByteArray& body)
{
    QByteArray f(16, '\0');
    qToBigEndian(dsp, f.data());
    qToBigEndian(version, f.data() + 4);
    qToBigEndian(arm, f.data() + 8);
    return f + body;
}

// Packed by the project's own tool; seeds 11 and 12: fwimage::sampleBytes(size, 11/12) are the images inside.
inline QByteArray sampleImage(int dspSize, int armSize, quint32 version)
{
    return fwimage::pack(fwimage::sampleBytes(dspSize, 11), fwimage::sampleBytes(armSize, 12), version);
}

// Delivers one input report to the window as the reader would.
inline void deliver(QObject* window, const QByteArray& hex, std::uint8_t reportId = 0x80)
{
    USBEvent event;
    event.reportData = QByteArray::fromHex(hex).leftJustified(20, '\0', true);
    event.reportId = reportId;
    QCoreApplication::sendEvent(window, &event);
}

inline QByteArray bytesOf(const std::vector<std::uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
}
