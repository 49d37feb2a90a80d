#include "EventLog.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() { if (fd >= 0) ::close(fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// The log keeps one entry per line, and shows text only: a line break
// becomes a blank; other control characters (a NUL ends a syslog message, an
// escape sequence drives the terminal that shows the log) are written as
// \xNN, or \uNNNN for those beyond ASCII.
QByteArray oneLine(const QString& message)
{
    QString text;
    text.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u == '\n' || u == '\r')
            text += u' ';
        else if (u < 0x20 || u == 0x7F)
            text += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u >= 0x80 && u < 0xA0)
            text += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text.toUtf8();
}

bool writeAll(int fd, const QByteArray& data)
{
    // One write() keeps an O_APPEND entry whole; loop only on interruption.
    for (;;) {
        const ssize_t n = ::write(fd, data.constData(), size_t(data.size()));
        if (n == data.size())
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool writeToFile(const char* path, int type, const QString& message)
{
    Fd f(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (f.fd < 0)
        return false;
    QByteArray line = QByteArray::number(type);
    line += '\t';
    line += oneLine(message);
    line += '\n';
    return writeAll(f.fd, line);
}

// One datagram in the traditional syslog form to /dev/log. Our own socket per
// call (instead of openlog/syslog) keeps no process-wide state and, unlike
// syslog(3), tells whether the entry was delivered.
bool writeToSyslog(int priority, const QString& message)
{
    Fd s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, "/dev/log", sizeof(addr.sun_path) - 1);
    if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0)
        return false;

    const QDateTime now = QDateTime::currentDateTime();
    // RFC 3164 time stamp: English month, day padded with a blank.
    const QString stamp = QLocale::c().toString(now, QStringLiteral("MMM"))
        + QStringLiteral(" %1 ").arg(now.date().day(), 2, 10, QLatin1Char(' '))
        + now.toString(QStringLiteral("HH:mm:ss"));
    QByteArray datagram = "<" + QByteArray::number(LOG_USER | priority) + ">";
    datagram += stamp.toLatin1();
    datagram += " Meridox[" + QByteArray::number(qint64(::getpid())) + "]: ";
    datagram += oneLine(message);
    for (;;) {
        const ssize_t n = ::send(s.fd, datagram.constData(), size_t(datagram.size()), MSG_NOSIGNAL);
        if (n == datagram.size())
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

} // namespace

bool WriteEventLog(const QString& Message, int EventType)
{
    int type = 0;
    int priority = LOG_INFO;
    switch (EventType) {
    case 1: type = 1; priority = LOG_ERR; break;
    case 2: type = 2; priority = LOG_WARNING; break;
    case 4: type = 4; priority = LOG_INFO; break;
    default: break;
    }
    const char* file = std::getenv(kEventLogFileEnv);
    if (file && *file)
        return writeToFile(file, type, Message);
    return writeToSyslog(priority, Message);
}
