#include "upgrade/notices.h"

#include <iterator>

namespace notices {

namespace {

const Notice kNotices[] = {
    {Id::Error1, {"信息", "升级未成功，错误1"}, {"Warning", "Error 1"}, true},
    {Id::Error2, {"信息", "升级未成功，错误2"}, {"Warning", "Error 2"}, true},
    {Id::Error4, {"信息", "升级未成功，错误4"}, {"Warning", "Error 4"}, true},
    {Id::Error5, {"信息", "升级未成功，错误5"}, {"Warning", "Error 5"}, true},
    // The file notices' texts are shown as given; only their titles are
    // translated (title() below).
    {Id::PathEmpty, {"信息", "文件路径不能为空"}, {"Information", "File Path Is Not NULL"}, false},
    {Id::FileMismatch,
     {"信息", "固件文件与当前设备不匹配"},
     {"Information", "The firmware file does not match\n the current device"},
     false},
    {Id::SoftwareType,
     {"信息", "软件类型与当前设备不匹配"},
     {"Information", "The software type does not match\n the current device"},
     false},
    {Id::FileFormat, {"信息", "文件格式错误"}, {"Information", "File Format Is Error"}, false},
    {Id::LowerVersion,
     {"信息", "固件文件版本低于当前设备"},
     {"Information", "The firmware file version is lower than the current device"},
     false},
    {Id::DownloadSucceeded, {"提示", "更新成功"}, {"Warning", "Update is Successful"}, true},
    {Id::DownloadFailed, {"提示", "更新失败"}, {"Warning", "Update is failed"}, true},
    {Id::FetchFailed, {"Warning", "Update failed"}, {"Warning", "Update failed"}, true},
    {Id::DeviceNotFound, {"信息", "设备未找到"}, {"Warning", "Equipment not found"}, true},
    {Id::WriteHandleInvalid,
     {"信息", "无效的写报告句柄，可能是打开设备时失败"},
     {"Warning", "Failed to open device"},
     true},
    {Id::UnknownModel, {"Warning", "Version of the error"}, {"Warning", "Version of the error"}, false},
    {Id::NetworkWarning,
     {"Warning", "checking your netWork,And Restart!"},
     {"Warning", "checking your netWork,And Restart!"},
     false},
    {Id::NewFirmware,
     {"Information", "new firmware,updata or not\xEF\xBC\x9F"},
     {"Information", "new firmware,updata or not\xEF\xBC\x9F"},
     false},
    {Id::LatestVersion, {"Warning", "Latest version"}, {"Warning", "Latest version"}, false},
    {Id::LocalWriteFailed,
     {"警告", "无法写入本地文件 %1：%2"},
     {"Warning", "Cannot write the local file %1: %2"},
     true},
    {Id::UnsignedRefused,
     {"警告", "此版本未内置签名密钥，无法验证更新服务器上的固件：请使用带有厂商密钥的版本"
              "（UPDATER_SIGNING_PUBLIC_KEY），或以 --allow-unsigned 启动"},
     {"Warning",
      "This build has no signing key, so images from the update server cannot be verified: use a build "
      "with the vendor's key (UPDATER_SIGNING_PUBLIC_KEY), or start it with --allow-unsigned"},
     false},
    {Id::Completion,
     {"信息", "更新成功!\n点击确定按钮关闭软件！"},
     {"information", "Update Complete!\nClick OK to close the software!"},
     false},
};

} // namespace

const Notice* begin()
{
    return std::begin(kNotices);
}

const Notice* end()
{
    return std::end(kNotices);
}

const Notice& notice(Id id)
{
    for (const Notice& n : kNotices) {
        if (n.id == id)
            return n;
    }
    static const Notice none{Id::None, {"", ""}, {"", ""}, false};
    return none;
}

const char* completionButtonText(bool chinese)
{
    return chinese ? "确定" : "Ok";
}

Id numberedError(int number)
{
    switch (number) {
    case 1:
        return Id::Error1;
    case 2:
        return Id::Error2;
    case 4:
        return Id::Error4;
    case 5:
        return Id::Error5;
    default:
        return Id::None;
    }
}

} // namespace notices
