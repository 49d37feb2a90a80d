#include "data/RowSpool.h"

#include <QDir>

#include <cerrno>
#include <cstring>

namespace ado::detail {

namespace {

// How a value is held: the common kinds by tag and payload (the record loop
// reads every value of every row back), anything else as Qt saves it.
enum Tag : quint8 { Invalid = 0, LongLong = 1, Int = 2, Double = 3, String = 4, Bytes = 5, Bool = 6, Other = 255 };

} // namespace

bool RowSpool::create(QString* error)
{
    m_file.setFileTemplate(QDir::tempPath() + QStringLiteral("/meridox-rows-XXXXXX"));
    if (!m_file.open()) {
        if (error)
            *error = QStringLiteral("The rows cannot be held in a temporary file: ") + m_file.errorString();
        return false;
    }
    m_stream.setDevice(&m_file);
    m_stream.setVersion(QDataStream::Qt_6_0);
    // The file never leaves this process: the machine's own byte order
    // writes text without swapping each character.
    m_stream.setByteOrder(QSysInfo::ByteOrder == QSysInfo::LittleEndian ? QDataStream::LittleEndian
                                                                         : QDataStream::BigEndian);
    m_count = 0;
    m_read = 0;
    m_failed = false;
    m_errno = 0;
    return true;
}

QString RowSpool::writeError() const
{
    // The file device keeps no reason when a write was cut short after part
    // of it went through (a disk that fills up): the system's own is kept.
    if (m_errno != 0)
        return QString::fromLocal8Bit(std::strerror(m_errno));
    return m_file.errorString();
}

bool RowSpool::append(const QVariantList& row)
{
    errno = 0;
    m_stream << quint32(row.size());
    for (const QVariant& v : row) {
        const int kind = !v.isValid() ? int(QMetaType::UnknownType) : v.isNull() ? -1 : v.typeId();
        switch (kind) {
        case QMetaType::UnknownType: m_stream << quint8(Invalid); break;
        case QMetaType::LongLong: m_stream << quint8(LongLong) << v.toLongLong(); break;
        case QMetaType::Int: m_stream << quint8(Int) << qint32(v.toInt()); break;
        case QMetaType::Double: m_stream << quint8(Double) << v.toDouble(); break;
        case QMetaType::QString: m_stream << quint8(String) << *static_cast<const QString*>(v.constData()); break;
        case QMetaType::QByteArray: m_stream << quint8(Bytes) << *static_cast<const QByteArray*>(v.constData()); break;
        case QMetaType::Bool: m_stream << quint8(Bool) << v.toBool(); break;
        default: m_stream << quint8(Other) << v; break;   // typed Nulls included
        }
    }
    if (m_stream.status() != QDataStream::Ok) {
        m_errno = errno;
        m_failed = true;
        return false;
    }
    ++m_count;
    return true;
}

bool RowSpool::finish(QString* error)
{
    errno = 0;
    const bool flushed = !m_failed && m_file.flush();
    if (!m_failed && !flushed)
        m_errno = errno;
    if (!flushed) {
        if (error)
            *error = QStringLiteral("The rows cannot be written to a temporary file: ") + writeError();
        m_failed = true;
        return false;
    }
    return rewind();
}

bool RowSpool::rewind()
{
    if (!m_file.seek(0)) {
        m_failed = true;
        return false;
    }
    m_stream.resetStatus();
    m_read = 0;
    return true;
}

bool RowSpool::next(QVariantList& row)
{
    if (m_failed || m_read >= m_count)
        return false;
    m_rowStart = m_file.pos();
    quint32 n = 0;
    m_stream >> n;
    if (m_stream.status() == QDataStream::Ok)
        row.resize(n);
    for (quint32 i = 0; i < n && m_stream.status() == QDataStream::Ok; ++i) {
        quint8 tag = Invalid;
        m_stream >> tag;
        QVariant& v = row[i];
        switch (tag) {
        case Invalid: v = QVariant(); break;
        case LongLong: { qint64 x = 0; m_stream >> x; v = QVariant::fromValue<qlonglong>(x); break; }
        case Int: { qint32 x = 0; m_stream >> x; v = int(x); break; }
        case Double: { double x = 0; m_stream >> x; v = x; break; }
        case String: { QString x; m_stream >> x; v = std::move(x); break; }
        case Bytes: { QByteArray x; m_stream >> x; v = std::move(x); break; }
        case Bool: { bool x = false; m_stream >> x; v = x; break; }
        default: m_stream >> v; break;
        }
    }
    if (m_stream.status() != QDataStream::Ok) {
        m_failed = true;
        return false;
    }
    ++m_read;
    return true;
}

bool RowSpool::returnTo(const Mark& mark, QVariantList& row)
{
    if (mark.offset < 0 || mark.read < 1 || !m_file.seek(mark.offset)) {
        m_failed = m_failed || mark.offset >= 0;
        return false;
    }
    m_stream.resetStatus();
    m_failed = false;
    m_read = mark.read - 1;
    return next(row);
}

} // namespace ado::detail
