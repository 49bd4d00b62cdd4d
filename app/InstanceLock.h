#pragma once

#include <QString>

// Marks that a copy of the program is running: an exclusive lock on a file in the user's
// runtime folder, named from the program's instance text. It is held for the life of the
// process and released by the kernel when the process ends, also by a crash.
class TInstanceLock {
public:
    enum class TResult { Acquired, HeldByAnother, Unavailable };

    TInstanceLock(const QString &folder, const QString &instanceText);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock &) = delete;
    TInstanceLock &operator=(const TInstanceLock &) = delete;

    TResult Result() const { return result; }
    // Why the lock could not be checked (Unavailable).
    const QString &Problem() const { return problem; }
    const QString &FilePath() const { return path; }

    // The file name for an instance text: characters other than letters, digits, '.', '-' and
    // '_' become '_'.
    static QString FileNameFor(const QString &instanceText);

private:
    QString path;
    QString problem;
    TResult result = TResult::Unavailable;
    int fd = -1;
};
