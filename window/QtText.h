// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Texts between the window's Qt strings and the rest of the program's.
#include <QDir>
#include <QString>

#include <string>

inline std::string NativePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdString();
}

inline QString FromStd(const std::string& text)
{
    return QString::fromStdString(text);
}
