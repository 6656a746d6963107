#pragma once

#include <QDir>
#include <QString>
#include <filesystem>
#include <system_error>

namespace vestrel {

// A path as the file system functions take it: native separators, UTF-16 on Windows.
inline std::filesystem::path NativePath(const QString& path) {
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdU16String());
}

// The system's words for a file system error (in the system's code page).
inline QString SystemText(const std::error_code& error) {
    return QString::fromLocal8Bit(error.message());
}

} // namespace vestrel
