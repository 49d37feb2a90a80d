#pragma once

// Collects the texts an object announces through a one-text signal.

#include <QObject>
#include <QStringList>

#include <memory>

template <class Sender, class Signal>
std::shared_ptr<QStringList> collect(Sender* sender, Signal signal) {
    auto texts = std::make_shared<QStringList>();
    QObject::connect(sender, signal, [texts](const QString& text) { texts->append(text); });
    return texts;
}

#include <ostream>

// Readable test failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
