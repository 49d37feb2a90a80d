#pragma once
// Readiness and stop reports to systemd over $NOTIFY_SOCKET (the notify
// protocol: one datagram of "KEY=VALUE" lines to a Unix socket; a leading
// '@' names an abstract socket).

#include <QByteArray>

class ServiceNotifier {
public:
    // Takes $NOTIFY_SOCKET and removes it from the environment, so that the
    // runners the service starts do not report in its name.
    static ServiceNotifier fromEnvironment();

    // Empty when the program was not started by systemd.
    bool active() const { return !socketPath_.isEmpty(); }
    const QByteArray& socketPath() const { return socketPath_; }

    // Sends one state text such as "READY=1". False when not active or the
    // datagram could not be sent.
    bool notify(const QByteArray& state) const;

private:
    QByteArray socketPath_;
};
