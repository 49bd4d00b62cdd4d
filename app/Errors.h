#pragma once

#include <QString>

#include <stdexcept>

// Errors raised by the shell and the data layer. Each carries a readable message that names
// what failed (the file, the statement) so the handler that reports it needs no extra context.
class TAppError : public std::runtime_error {
public:
    explicit TAppError(const QString &message)
        : std::runtime_error(message.toStdString()), text(message) {}

    const QString &Message() const noexcept { return text; }

private:
    QString text;
};

// A file could not be created, read or written.
class EInOutError : public TAppError {
public:
    using TAppError::TAppError;
};

// The recordings database refused an operation.
class EDatabaseError : public TAppError {
public:
    using TAppError::TAppError;
};
