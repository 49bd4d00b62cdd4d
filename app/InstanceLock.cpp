#include "app/InstanceLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TInstanceLock::TInstanceLock(const QString &folder, const QString &instanceText)
    : path(folder + u'/' + FileNameFor(instanceText))
{
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = QStringLiteral("%1：%2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    int status;
    do {
        status = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (status != 0 && errno == EINTR);
    if (status == 0)
        result = TResult::Acquired;
    else if (errno == EWOULDBLOCK)
        result = TResult::HeldByAnother;
    else
        problem = QStringLiteral("%1：%2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

TInstanceLock::~TInstanceLock()
{
    if (fd >= 0)
        ::close(fd);
}

QString TInstanceLock::FileNameFor(const QString &instanceText)
{
    QString name = instanceText;
    for (QChar &c : name) {
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                           c == u'.' || c == u'-' || c == u'_';
        if (!plain)
            c = u'_';
    }
    return name + QStringLiteral(".lock");
}
