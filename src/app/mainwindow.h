// The main window: the hub of the updater. It owns the form, the link to the
// device, the transfer timers, the help dialog and the upgrade state; every
// operation of the upgrade, the image file and the online update is a slot of
// this class. The slots of each topic live in src/app/mainwindow_<topic>.cpp
// as thin adapters; the decisions they make live in the layers below
// (the engine, the image checks, the online fetches).
#pragma once

#include "online/context.h"
#include "online/onlinefetch.h"
#include "protocol/protocol.h"
#include "session/session.h"
#include "upgrade/engine.h"
#include "usb/hidplatform.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <cstdint>

class QTimer;
class QCloseEvent;
class QMouseEvent;
class QEvent;
class Ui_MainWindow;
class HelpText;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's device: its session writes on this (the GUI) thread into
    // the process-wide link (usb/linkstate.h), whose handles, capabilities,
    // reader and send latch are hReadHandle, hWriteHandle, hidCaps,
    // currentReader and sendInProgress. Declared first: the members below
    // refer into it.
    session::Session deviceSession{session::WriteMode::CallingThread, &processLink};

    // The upgrade engine: the session's, with its state and the image it
    // writes. The members below that carry the upgrade's state and the
    // loaded image's DSP end are references into it, so the slots, the
    // engine and whoever reads the members see one set of values at every
    // moment, also from inside a box that a step's action opened. The engine
    // keeps its own copy of the image's bytes, taken with imageData when the
    // file is read.
    upgrade::Engine& engine = deviceSession.engine;

    // Members in declaration order with the values the constructor gives
    // them. They are public so the tests and the unattended driver can read
    // the state the slots leave behind.
    Ui_MainWindow* ui = nullptr;
    QTimer* dspTimer = nullptr;
    QTimer* armTimer = nullptr;
    QTimer* delayTimer = nullptr;
    QTimer* autoCheckTimer = nullptr;
    QPoint mousePressPos{0, 0};
    QLocale locale;
    bool blMousePressed = false;
    bool& MyDevFound = deviceSession.link().found;
    bool blDeviceArrived = false;
    bool blDeviceRemoved = false;
    bool& dspMaySend = engine.state.dsp.maySend;
    bool& armMaySend = engine.state.arm.maySend;
    bool& armEndSent = engine.state.arm.endSent;
    bool& dspEndSent = engine.state.dsp.endSent;
    QString serverFilePath;
    QString deviceVersionText;
    QString filePath;
    std::uint16_t& deviceVersion = engine.state.deviceVersion;
    bool& upgradeRunning = engine.state.upgradeRunning;
    std::int32_t& dspBlockIndex = engine.state.dsp.blockIndex;
    std::int32_t& armBlockIndex = engine.state.arm.blockIndex;
    std::int32_t& dspImageEnd = engine.image.dspImageEnd;
    std::int32_t armImageLength = 0;
    std::int32_t fileVersion = 0;
    std::uint16_t& blockSize = engine.image.blockSize;
    const std::uint8_t dspAckSubCode = frames::kDspAckSub;
    const std::uint8_t armAckSubCode = frames::kArmAckSub;
    const std::uint8_t startAckSubCode = frames::kStartAckSub;
    std::int32_t vendorId = protocol::kVendorId;
    std::int32_t productId = protocol::kProductId;
    QString loadedFilePath; // the copy of filePath taken when the image file is opened
    // Size and modification time of that file when it was read: the start
    // button reads it again only when they changed.
    qint64 loadedFileSize = -1;
    QDateTime loadedFileModified;
    QByteArray imageData;
    QByteArray versionReply; // the device's last version reply
    // The image in memory is the verified download saved at loadedFilePath:
    // the start button writes these bytes and never reads the file again.
    bool heldDownload = false;
    std::uint8_t& startWaitTicks = engine.state.startWaitTicks;
    std::uint16_t& armWaitTicks = engine.state.arm.waitTicks;
    std::uint16_t& dspWaitTicks = engine.state.dsp.waitTicks;
    const std::uint8_t finishSubCode = frames::kFinishSub;
    bool& finishReceived = engine.state.finishReceived;
    bool versionChecked = false;
    bool& handshakeGuard = engine.state.handshakeGuard;
    QString productIdText = QStringLiteral("0525");
    QString vendorIdText = QStringLiteral("0483");
    QString appDirPath;  // root of the local file tree: the data root (core/dataroot.h)
    QString helpDirPath; // folder of the help pictures, from the data root
    // A local file of the online update could not be written and the user
    // was told so; the fetch's failure is then no network problem.
    bool localWriteFailed = false;
    bool& dspHandshakeSent = engine.state.dspHandshakeSent;
    HelpText* helpDialog = nullptr;
    // What the online slots fetch with: the trusted key, the fetch limits
    // and the libcurl trace. The build's unless main (or a test) gives
    // another before the slots run.
    online::Context onlineContext;
    // What the last version check found (Slot_LoadingMessageFile): the
    // version offered and, with a key, the verified release metadata, and
    // how long its fetches took. The download it offers takes it once,
    // fetches neither again and gets what is left of the deadline.
    online::ReleaseCheck onlineCheck;
    qint64 onlineCheckMs = 0;

    // The decision of a device-interface notice (arrival or removal of the
    // interface at `path`), whichever way the platform delivered it.
    void handleDeviceNotice(HidNoticeKind kind, const std::string& path);

    // Creates a reader for the current read handle, makes it currentReader,
    // enables and starts it. Never leaves two readers reading the device.
    void startReader() { deviceSession.link().startPostingReader(this); }
    // Stops the reader in use, if any, closes the read handle, waits for its
    // thread and releases it.
    void stopReader() { deviceSession.link().stopPostingReader(); }

    // Carries out the actions of one engine step: frames to the device,
    // timers, progress, notices, buttons.
    void carry(const upgrade::Actions& actions);

public slots:
    // Application shell
    QString SetFileFlushName();
    void onExit();
    void on_toolButton_4_clicked();
    void OnTestTB();
    void on_TBFlush_released();
    void Slot_SetFtpThreadLoadingStatus();
    void Get_LacaelLanuage();

    // Device link
    int USBRegistration();
    int OpenUSBHandle();
    void SetRoundCircleColor(bool blclockWise, QColor& color);
    int SendDataToUsb(unsigned char* WriteToDeiverBuffer);

    // Upgrade control and handshakes
    void on_toolButton_2_clicked();
    void UpgradeDelayTimer();
    void Slot_SengReadCommand();
    void Slot_SecondCommand();
    void onGetVersionFromMotor();

    // Image transfer
    int SendDSPData();
    int SendARMData();

    // Notices
    void FlushFileTip(int NUm);
    void onInformationTip(QString Chinese, QString English);

    // Image file
    int slot_VersionCheck();
    int OpenTheFile();
    void on_TBFlush_clicked();
    int GetTheFilePath();

    // Online update: version check
    int Slot_GetRobotVersion(bool power);
    void Slot_CheckFile();
    int ReadTxtFile(QString FilePath, QStringList& data);
    int Slot_LoadingMessageFile(QString ServerPath, QString SavePath, QStringList& FileData);

    // Online update: download flow
    void Slot_LoadBinToOne(QString FtpPathName, QString SavePCname);

    // Help
    void onInitHelp();

protected slots:
    void Slot_SetLanguage(int Language);

private slots:
    void LoadFile(QString FileName, QString FileNameLocalPath);
    int Slot_CurlTest(QString FtpFilePath, QString LoadingLocalPath);

protected:
    void customEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
};
