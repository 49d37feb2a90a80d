#include "ServiceNotify.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

ServiceNotifier ServiceNotifier::fromEnvironment()
{
    ServiceNotifier notifier;
    if (const char* path = std::getenv("NOTIFY_SOCKET"))
        notifier.socketPath_ = QByteArray(path);
    ::unsetenv("NOTIFY_SOCKET");
    return notifier;
}

bool ServiceNotifier::notify(const QByteArray& state) const
{
    if (socketPath_.isEmpty())
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath_.size() >= qsizetype(sizeof(addr.sun_path)))
        return false;
    if (socketPath_[0] != '@' && socketPath_[0] != '/')
        return false;
    std::memcpy(addr.sun_path, socketPath_.constData(), size_t(socketPath_.size()));
    if (socketPath_[0] == '@')
        addr.sun_path[0] = '\0';
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(socketPath_.size())
                                       + (socketPath_[0] == '@' ? 0 : 1));

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ssize_t sent;
    do {
        sent = ::sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&addr), length);
    } while (sent < 0 && errno == EINTR);
    ::close(fd);
    return sent == state.size();
}
