// The open-file dialog of the program, behind one replaceable call so tests
// and the unattended driver can pick a file as the dialog would.
#pragma once

#include <QString>

#include <functional>

class QWidget;

QString askOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);

struct OpenFileRequest {
    QWidget* parent;
    QString caption;
    QString dir;
    QString filter;
};
// Tests and the unattended driver put a chooser in its place through
// ScopedServices::files (core/services.h).
