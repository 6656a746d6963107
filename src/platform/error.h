#pragma once

#include <QString>
#include <exception>

namespace vestrel {

// A failure that carries the description shown to the user or written to the log
// ("Errore " + description). Raised by the backup engine and the log and caught by the
// procedure that handles it; it never crosses the event loop.
class Error : public std::exception {
public:
    explicit Error(QString description)
        : description_(std::move(description)), what_(description_.toUtf8()) {}
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.constData(); }

private:
    QString description_;
    QByteArray what_;
};

} // namespace vestrel
