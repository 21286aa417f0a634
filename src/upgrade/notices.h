// The texts of the upgrade's notices. The window shows them in the box
// forms of core/messagebox.h (app/mainwindow_notices.h).
#pragma once

#include <QString>

namespace notices {

// A file notice in its two wordings (UTF-8).
struct Wording {
    const char* chinese;
    const char* english;
};

constexpr Wording kPathEmpty{"文件路径不能为空", "File Path Is Not NULL"};
constexpr Wording kFileMismatch{"固件文件与当前设备不匹配",
                                "The firmware file does not match\n the current device"};
constexpr Wording kSoftwareType{"软件类型与当前设备不匹配",
                                "The software type does not match\n the current device"};
constexpr Wording kFileFormat{"文件格式错误", "File Format Is Error"};
constexpr Wording kLowerVersion{"固件文件版本低于当前设备",
                                "The firmware file version is lower than the current device"};

// The numbered errors of the upgrade: 1 start time-out, 2 DSP stage
// time-out, 4 time-out after an end frame, 5 ARM stage time-out.
QString numberedErrorText(int number, bool chinese);

} // namespace notices
