#include "core/filedialog.h"

#include <QFileDialog>

#include <utility>

namespace {
std::function<QString(const OpenFileRequest&)>& chooser()
{
    static std::function<QString(const OpenFileRequest&)> c;
    return c;
}
} // namespace

QString askOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (chooser())
        return chooser()(OpenFileRequest{parent, caption, dir, filter});
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void setOpenFileChooser(std::function<QString(const OpenFileRequest&)> c)
{
    chooser() = std::move(c);
}
