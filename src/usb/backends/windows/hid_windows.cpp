// The Windows HID backend: SetupAPI enumerates the present HID interfaces,
// the device paths are opened with CreateFileW, input reports are read with
// overlapped ReadFile and GetOverlappedResult, and feature reports written
// with HidD_SetFeature. The hid.dll functions are looked up at run time, so
// the build needs no driver kit. Device notices arrive as WM_DEVICECHANGE
// messages of the registered window, which translateNativeMessage decodes.
//
// Handles come from a HandleTable: close() from another thread cancels a
// pending read (CancelIoEx) and the system handle is closed only after that
// read has returned, so a reused HANDLE value can never be read by mistake.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <dbt.h>
#include <hidsdi.h> // with hidusage.h and hidpi.h: the records, no functions linked
#include <setupapi.h>

#include "usb/handletable.h"
#include "usb/hidplatform.h"

#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The HID device-interface class, {4D1E55B2-F16F-11CF-88CB-001111000030}.
const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const NTSTATUS kHidpStatusSuccess = static_cast<NTSTATUS>(0x00110000);

// The hid.dll functions the backend uses, resolved once.
struct HidDll {
    using GetHidGuidFn = void(WINAPI*)(LPGUID);
    using GetAttributesFn = BOOLEAN(WINAPI*)(HANDLE, PHIDD_ATTRIBUTES);
    using GetPreparsedDataFn = BOOLEAN(WINAPI*)(HANDLE, PHIDP_PREPARSED_DATA*);
    using FreePreparsedDataFn = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA);
    using GetCapsFn = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
    using SetFeatureFn = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
    using GetSerialNumberStringFn = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);

    GetHidGuidFn getHidGuid = nullptr;
    GetAttributesFn getAttributes = nullptr;
    GetPreparsedDataFn getPreparsedData = nullptr;
    FreePreparsedDataFn freePreparsedData = nullptr;
    GetCapsFn getCaps = nullptr;
    SetFeatureFn setFeature = nullptr;
    GetSerialNumberStringFn getSerialNumberString = nullptr; // optional: null when missing
    bool loaded = false;

    template <typename Fn> static bool resolve(HMODULE module, const char* name, Fn* out)
    {
        FARPROC p = GetProcAddress(module, name);
        *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
        return p != nullptr;
    }

    HidDll()
    {
        HMODULE module = LoadLibraryW(L"hid.dll");
        if (!module)
            return;
        loaded = resolve(module, "HidD_GetHidGuid", &getHidGuid) &&
                 resolve(module, "HidD_GetAttributes", &getAttributes) &&
                 resolve(module, "HidD_GetPreparsedData", &getPreparsedData) &&
                 resolve(module, "HidD_FreePreparsedData", &freePreparsedData) &&
                 resolve(module, "HidP_GetCaps", &getCaps) && resolve(module, "HidD_SetFeature", &setFeature);
        resolve(module, "HidD_GetSerialNumberString", &getSerialNumberString);
    }
};

std::string toUtf8(const wchar_t* text, int length)
{
    if (length <= 0)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring toWide(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &out[0], n);
    return out;
}

struct Device {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE readDone = nullptr; // event of the overlapped read
    HidLock lock;              // orders a read's start against close()
    bool closed = false;
    ~Device()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (readDone)
            CloseHandle(readDone);
    }
};

class WindowsHidPlatform : public HidPlatform {
public:
    std::vector<std::string> enumerate() override
    {
        std::vector<std::string> paths;
        if (!hid_.loaded) {
            setError("hid.dll: functions not found");
            return paths;
        }
        GUID guid;
        hid_.getHidGuid(&guid);
        HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            fail("SetupDiGetClassDevsW");
            return paths;
        }
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data); ++index) {
            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
            if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                continue;
            std::vector<unsigned char> storage(required + sizeof(wchar_t), 0);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            // The size of the fixed part, as this process's layout has it.
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr))
                continue;
            const std::size_t room =
                (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
            std::size_t length = 0;
            while (length < room && detail->DevicePath[length] != L'\0')
                ++length;
            paths.push_back(toUtf8(detail->DevicePath, static_cast<int>(length)));
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    HidHandle openProbe(const std::string& path) override
    {
        return open(path, 0, FILE_ATTRIBUTE_NORMAL, false);
    }

    HidHandle openRead(const std::string& path) override
    {
        return open(path, GENERIC_READ, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, true);
    }

    HidHandle openWrite(const std::string& path) override { return open(path, GENERIC_WRITE, 0, false); }

    bool getAttributes(HidHandle handle, HidAttributes* out) override
    {
        auto dev = handles_.find(handle);
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!dev || !hid_.loaded || !hid_.getAttributes(dev->handle, &attributes))
            return fail("HidD_GetAttributes");
        out->vendorId = attributes.VendorID;
        out->productId = attributes.ProductID;
        return true;
    }

    bool getSerialNumber(HidHandle handle, std::string* out) override
    {
        auto dev = handles_.find(handle);
        // The string descriptor holds at most 126 UTF-16 units; one more
        // keeps the buffer terminated whatever the driver writes.
        wchar_t text[127] = {};
        if (!dev || !hid_.loaded || !hid_.getSerialNumberString ||
            !hid_.getSerialNumberString(dev->handle, text, sizeof text - sizeof text[0]))
            return fail("HidD_GetSerialNumberString");
        *out = toUtf8(text, static_cast<int>(wcsnlen(text, 126)));
        return true;
    }

    bool getCaps(HidHandle handle, HidCaps* out) override
    {
        auto dev = handles_.find(handle);
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!dev || !hid_.loaded || !hid_.getPreparsedData(dev->handle, &preparsed))
            return fail("HidD_GetPreparsedData");
        HIDP_CAPS caps{};
        const NTSTATUS status = hid_.getCaps(preparsed, &caps);
        hid_.freePreparsedData(preparsed);
        if (status != kHidpStatusSuccess) {
            setError("HidP_GetCaps failed (status " + std::to_string(static_cast<unsigned long>(status)) +
                     ")");
            return false;
        }
        out->inputReportByteLength = caps.InputReportByteLength;
        out->outputReportByteLength = caps.OutputReportByteLength;
        out->featureReportByteLength = caps.FeatureReportByteLength;
        return true;
    }

    bool setFeature(HidHandle handle, const std::uint8_t* data, std::size_t length) override
    {
        auto dev = handles_.find(handle);
        if (!dev || !hid_.loaded)
            return fail("HidD_SetFeature");
        std::vector<std::uint8_t> report(data, data + length); // the call takes a writable buffer
        if (!hid_.setFeature(dev->handle, report.data(), static_cast<ULONG>(length)))
            return fail("HidD_SetFeature");
        return true;
    }

    int readInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity) override
    {
        auto dev = handles_.find(handle);
        if (!dev || !dev->readDone) {
            setError("ReadFile: invalid handle");
            return -1;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = dev->readDone;
        {
            // Issued under the lock: either close() came first and the read
            // is never issued, or it comes after and cancels this read.
            HidLockGuard guard(dev->lock);
            if (dev->closed) {
                setError("ReadFile: handle closed");
                return -1;
            }
            ResetEvent(dev->readDone);
            if (!ReadFile(dev->handle, buffer, static_cast<DWORD>(capacity), nullptr, &overlapped) &&
                GetLastError() != ERROR_IO_PENDING)
                return readFailed("ReadFile");
        }
        DWORD read = 0;
        if (!GetOverlappedResult(dev->handle, &overlapped, &read, TRUE))
            return readFailed("GetOverlappedResult");
        return static_cast<int>(read);
    }

    void close(HidHandle handle) override
    {
        auto dev = handles_.take(handle);
        if (!dev)
            return;
        HidLockGuard guard(dev->lock);
        dev->closed = true;
        if (dev->readDone)
            CancelIoEx(dev->handle, nullptr);
        // CloseHandle follows when the last user (a pending read) lets go.
    }

    bool registerNotices(void* nativeWindow, NoticeSink) override
    {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_reserved = 0;
        filter.dbcc_classguid = kHidInterfaceClass;
        // The notices come to the window as WM_DEVICECHANGE messages; the
        // registration lasts as long as the window.
        if (!RegisterDeviceNotificationW(static_cast<HANDLE>(nativeWindow), &filter,
                                         DEVICE_NOTIFY_WINDOW_HANDLE))
            return fail("RegisterDeviceNotificationW");
        return true;
    }

    bool translateNativeMessage(void* message, HidNoticeKind* kind, std::string* path) override
    {
        const MSG* msg = static_cast<const MSG*>(message);
        if (!msg || msg->message != WM_DEVICECHANGE || msg->lParam == 0)
            return false;
        if (msg->wParam == DBT_DEVICEARRIVAL)
            *kind = HidNoticeKind::Arrival;
        else if (msg->wParam == DBT_DEVICEREMOVECOMPLETE)
            *kind = HidNoticeKind::Removal;
        else
            return false;
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
        if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE)
            return false;
        const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
        // The name runs to its NUL, but never past the record's stated size.
        const std::size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
        const std::size_t room =
            header->dbch_size > offset ? (header->dbch_size - offset) / sizeof(wchar_t) : 0;
        std::size_t length = 0;
        while (length < room && notice->dbcc_name[length] != L'\0')
            ++length;
        *path = toUtf8(notice->dbcc_name, static_cast<int>(length));
        return true;
    }

    std::string lastError() const override
    {
        HidLockGuard guard(errorLock_);
        return lastError_;
    }

private:
    HidHandle open(const std::string& path, DWORD access, DWORD flags, bool overlapped)
    {
        const std::wstring wide = toWide(path);
        HANDLE h = CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, flags, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            fail("CreateFileW");
            return kInvalidHidHandle;
        }
        auto dev = std::make_shared<Device>();
        dev->handle = h;
        if (overlapped) {
            dev->readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (!dev->readDone) {
                fail("CreateEventW");
                return kInvalidHidHandle;
            }
        }
        return handles_.add(std::move(dev));
    }

    // A read that failed. Windows ends the reads of a device that left with
    // ERROR_DEVICE_NOT_CONNECTED (1167); Wine with ERROR_ACCESS_DENIED (5),
    // for the pending read and every later one on the handle. Both are the
    // removal, and the caller finds 1167 as the thread's last error either
    // way; a read ended by close() leaves ERROR_OPERATION_ABORTED.
    int readFailed(const char* call)
    {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_DEVICE_NOT_CONNECTED) {
            setError(std::string(call) + ": device removed (error " + std::to_string(error) + ")");
            error = ERROR_DEVICE_NOT_CONNECTED;
        } else {
            setError(std::string(call) + " failed (error " + std::to_string(error) + ")");
        }
        SetLastError(error);
        return -1;
    }

    bool fail(const char* call)
    {
        setError(std::string(call) + " failed (error " + std::to_string(GetLastError()) + ")");
        return false;
    }

    void setError(std::string text)
    {
        HidLockGuard guard(errorLock_);
        lastError_ = std::move(text);
    }

    HidDll hid_;
    HandleTable<Device> handles_;
    mutable HidLock errorLock_;
    std::string lastError_;
};

} // namespace

HidPlatform* nativeHidPlatform()
{
    // Lives for the whole process, like the link state that uses it.
    static WindowsHidPlatform* platform = new WindowsHidPlatform;
    return platform;
}
