// The rig every window-level test stands on: a virtual bus with the device
// installed as the HID platform, a box recorder that answers every box, and
// image files on disk. Each installs its parts through a ScopedServices, so
// whatever a test installs on top goes away with the rig.
#pragma once

#include "core/filedialog.h"
#include "core/messagebox.h"
#include "core/services.h"
#include "image/firmwareimage.h"
#include "qtbridge/bytes.h"
#include "upgrade/notices.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/linkstate.h"

#include <QFile>
#include <QMetaType>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// The bus with the device plugged (or nothing plugged), installed as the
// HID platform; tests install further parts through `services`. Declare it
// before the window so the window goes first.
struct Rig {
    VirtualHidBus bus;
    ScopedServices services;
    std::shared_ptr<DeviceModel> device = std::make_shared<DeviceModel>();
    std::string path;

    explicit Rig(bool plugged = true)
    {
        resetLinkState();
        services.hid(&bus);
        if (plugged)
            path = bus.plug(VirtualHidBus::deviceInterface(device));
    }
    ~Rig() { resetLinkState(); }
    std::size_t sent(DeviceModel::FrameKind kind) const { return device->count(kind); }
};

// Records every box and answers it with Yes where it has one, else OK,
// unless `answer` gives the button. Restores the presenter before it when
// it goes.
struct Boxes {
    QList<BoxRequest> seen;
    std::function<int(const BoxRequest&)> answer;
    ScopedServices services;

    Boxes()
    {
        services.boxes([this](const BoxRequest& box) {
            seen << box;
            if (answer)
                return answer(box);
            return box.buttons.testFlag(QMessageBox::Yes) ? int(QMessageBox::Yes) : int(QMessageBox::Ok);
        });
    }
    // The identities of the boxes seen, in order.
    QList<notices::Id> ids() const
    {
        QList<notices::Id> i;
        for (const BoxRequest& b : seen)
            i << b.notice;
        return i;
    }
};

Q_DECLARE_METATYPE(notices::Id)

inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? f.fileName() : QString();
}

// Packed by the project's own tool; seeds 11 and 12: fwimage::sampleBytes(size, 11/12) are the images inside.
inline QByteArray sampleImage(int dspSize, int armSize, quint32 version)
{
    return toQByteArray(
        fwimage::pack(fwimage::sampleBytes(dspSize, 11), fwimage::sampleBytes(armSize, 12), version));
}
