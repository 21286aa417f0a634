#include "core/filedialog.h"

#include "core/services.h"

#include <QFileDialog>

#include <utility>

QString askOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (const FileChooser chooser = services::fileChooser())
        return chooser(OpenFileRequest{parent, caption, dir, filter});
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}
