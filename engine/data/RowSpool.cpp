#include "data/RowSpool.h"

#include <QDataStream>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <unistd.h>

namespace ado::detail {

namespace {

// How a value is held: the common kinds by tag and payload in the machine's
// own layout (the file never leaves this process, and the record loop reads
// every value of every row back), anything else as Qt saves it. A row is its
// length, its number of values and the values.
enum Tag : quint8 { Invalid = 0, LongLong = 1, Int = 2, Double = 3, String = 4, Bytes = 5, Bool = 6, Other = 255 };

// Text and bytes give their length first; this one stands for a null value.
constexpr quint32 kNullLength = std::numeric_limits<quint32>::max();

// Rows go to the file, and come back from it, in blocks of about this size;
// the buffer only grows past it for a row larger than a block, and shrinks
// back after it.
constexpr qsizetype kBlock = 512 * 1024;
constexpr qsizetype kWriteBuffer = kBlock + kBlock / 8;
constexpr qsizetype kReadBuffer = 2 * kBlock;

void resizeBuffer(std::vector<char>& buf, qsizetype size)
{
    if (qsizetype(buf.size()) == size)
        return;
    buf.resize(size_t(size));
    buf.shrink_to_fit();
}

QDataStream& prepared(QDataStream& s)
{
    s.setVersion(QDataStream::Qt_6_0);
    return s;
}

template <class T>
T load(const char* p)
{
    T x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

// Decodes one row's values, never past its end.
class Reader {
public:
    Reader(const char* p, const char* end) : m_p(p), m_end(end) {}
    bool has(qsizetype n) const { return m_end - m_p >= n; }
    template <class T>
    bool take(T& x)
    {
        if (!has(sizeof x))
            return false;
        std::memcpy(&x, m_p, sizeof x);
        m_p += sizeof x;
        return true;
    }
    const char* skip(qsizetype n)
    {
        const char* at = m_p;
        m_p += n;
        return at;
    }

private:
    const char* m_p;
    const char* m_end;
};

bool readValue(Reader& in, QVariant& v)
{
    quint8 tag = Invalid;
    if (!in.take(tag))
        return false;
    switch (tag) {
    case Invalid: v = QVariant(); return true;
    case LongLong: { qint64 x = 0; if (!in.take(x)) return false; v = QVariant(qlonglong(x)); return true; }
    case Int: { qint32 x = 0; if (!in.take(x)) return false; v = QVariant(int(x)); return true; }
    case Double: { double x = 0; if (!in.take(x)) return false; v = QVariant(x); return true; }
    case Bool: { quint8 x = 0; if (!in.take(x)) return false; v = QVariant(x != 0); return true; }
    case String: {
        quint32 n = 0;
        if (!in.take(n))
            return false;
        if (n == kNullLength) {
            v = QVariant(QString());
            return true;
        }
        const qsizetype bytes = qsizetype(n) * qsizetype(sizeof(char16_t));
        if (!in.has(bytes))
            return false;
        QString s(n, Qt::Uninitialized);
        std::memcpy(s.data(), in.skip(bytes), size_t(bytes));
        v = QVariant(std::move(s));
        return true;
    }
    case Bytes: {
        quint32 n = 0;
        if (!in.take(n))
            return false;
        if (n == kNullLength) {
            v = QVariant(QByteArray());
            return true;
        }
        if (!in.has(n))
            return false;
        QByteArray b(n, Qt::Uninitialized);
        std::memcpy(b.data(), in.skip(n), n);
        v = QVariant(std::move(b));
        return true;
    }
    case Other: {
        quint32 n = 0;
        if (!in.take(n) || !in.has(n))
            return false;
        const QByteArray saved = QByteArray::fromRawData(in.skip(n), n);
        QDataStream s(saved);
        prepared(s) >> v;
        return s.status() == QDataStream::Ok;
    }
    default: return false;
    }
}

} // namespace

bool RowSpool::create(QString* error)
{
    m_file.setFileTemplate(QDir::tempPath() + QStringLiteral("/meridox-rows-XXXXXX"));
    if (!m_file.open()) {
        if (error)
            *error = QStringLiteral("The rows cannot be held in a temporary file: ") + m_file.errorString();
        return false;
    }
    resizeBuffer(m_buf, kWriteBuffer);
    m_used = 0;
    m_pos = 0;
    m_bufStart = 0;
    m_size = 0;
    m_count = 0;
    m_read = 0;
    m_failed = false;
    m_errno = 0;
    return true;
}

QString RowSpool::writeError() const
{
    if (m_errno != 0)
        return QString::fromLocal8Bit(std::strerror(m_errno));
    return m_file.errorString();
}

bool RowSpool::append(const QVariantList& row)
{
    if (m_failed)
        return false;
    const qsizetype rowStart = m_used;
    // Room for n more bytes; the buffer only grows for a row larger than it.
    auto room = [this](qsizetype n) {
        if (m_used + n > qsizetype(m_buf.size()))
            m_buf.resize(size_t(std::max(m_used + n, qsizetype(m_buf.size()) * 2)));
        char* at = m_buf.data() + m_used;
        m_used += n;
        return at;
    };
    auto put = [&](const auto& x) { std::memcpy(room(sizeof x), &x, sizeof x); };
    auto putTagged = [&](quint8 tag, const auto& x) {
        char* at = room(1 + sizeof x);
        *at = char(tag);
        std::memcpy(at + 1, &x, sizeof x);
    };
    room(sizeof(quint32));   // the row's length, known at its end
    put(quint32(row.size()));
    for (const QVariant& v : row) {
        const int kind = !v.isValid() ? int(QMetaType::UnknownType) : v.isNull() ? -1 : v.typeId();
        switch (kind) {
        case QMetaType::UnknownType: *room(1) = char(Invalid); break;
        case QMetaType::LongLong: putTagged(LongLong, qint64(*static_cast<const qlonglong*>(v.constData()))); break;
        case QMetaType::Int: putTagged(Int, qint32(*static_cast<const int*>(v.constData()))); break;
        case QMetaType::Double: putTagged(Double, *static_cast<const double*>(v.constData())); break;
        case QMetaType::Bool: putTagged(Bool, quint8(*static_cast<const bool*>(v.constData()) ? 1 : 0)); break;
        case QMetaType::QString: {
            const QString& s = *static_cast<const QString*>(v.constData());
            if (s.isNull()) {
                putTagged(String, kNullLength);
                break;
            }
            const qsizetype bytes = s.size() * qsizetype(sizeof(char16_t));
            char* at = room(1 + sizeof(quint32) + bytes);
            *at = char(String);
            const quint32 n = quint32(s.size());
            std::memcpy(at + 1, &n, sizeof n);
            std::memcpy(at + 1 + sizeof n, s.constData(), size_t(bytes));
            break;
        }
        case QMetaType::QByteArray: {
            const QByteArray& b = *static_cast<const QByteArray*>(v.constData());
            if (b.isNull()) {
                putTagged(Bytes, kNullLength);
                break;
            }
            char* at = room(1 + sizeof(quint32) + b.size());
            *at = char(Bytes);
            const quint32 n = quint32(b.size());
            std::memcpy(at + 1, &n, sizeof n);
            std::memcpy(at + 1 + sizeof n, b.constData(), size_t(b.size()));
            break;
        }
        default: {   // typed Nulls included
            QByteArray saved;
            {
                QDataStream s(&saved, QIODevice::WriteOnly);
                prepared(s) << v;
                if (s.status() != QDataStream::Ok) {
                    m_used = rowStart;
                    m_failed = true;
                    return false;
                }
            }
            putTagged(Other, quint32(saved.size()));
            std::memcpy(room(saved.size()), saved.constData(), size_t(saved.size()));
            break;
        }
        }
    }
    const qsizetype length = m_used - rowStart - qsizetype(sizeof(quint32));
    if (length > qsizetype(kNullLength)) {
        m_used = rowStart;
        m_errno = EFBIG;
        m_failed = true;
        return false;
    }
    const quint32 n = quint32(length);
    std::memcpy(m_buf.data() + rowStart, &n, sizeof n);
    ++m_count;
    return m_used < kBlock || flush();
}

// Hands the encoded rows to the file; a write cut short (a disk that fills
// up) keeps the system's reason.
bool RowSpool::flush()
{
    const int fd = m_file.handle();
    const char* p = m_buf.data();
    qsizetype left = m_used;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_errno = n < 0 ? errno : EIO;
            m_failed = true;
            return false;
        }
        p += n;
        left -= n;
        m_size += n;
    }
    m_used = 0;
    resizeBuffer(m_buf, kWriteBuffer);
    return true;
}

bool RowSpool::finish(QString* error)
{
    if (!m_failed)
        flush();
    if (m_failed) {
        if (error)
            *error = QStringLiteral("The rows cannot be written to a temporary file: ") + writeError();
        return false;
    }
    resizeBuffer(m_buf, kReadBuffer);
    return rewind();
}

bool RowSpool::rewind()
{
    if (!m_file.isOpen()) {
        m_failed = true;
        return false;
    }
    m_bufStart = 0;
    m_used = 0;
    m_pos = 0;
    m_read = 0;
    return true;
}

bool RowSpool::fill(qsizetype need)
{
    if (m_pos > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_pos, size_t(m_used - m_pos));
        m_bufStart += m_pos;
        m_used -= m_pos;
        m_pos = 0;
    }
    const qsizetype size = std::max(need, kReadBuffer);
    if (m_used <= size)
        resizeBuffer(m_buf, size);
    const int fd = m_file.handle();
    while (m_used < need) {
        const qint64 at = m_bufStart + m_used;
        const qint64 want = std::min<qint64>(qint64(m_buf.size()) - m_used, m_size - at);
        if (want <= 0)
            return false;
        const ssize_t n = ::pread(fd, m_buf.data() + m_used, size_t(want), off_t(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_used += n;
    }
    return true;
}

bool RowSpool::next(QVariantList& row)
{
    if (m_failed || m_read >= m_count)
        return false;
    m_rowStart = m_bufStart + m_pos;
    quint32 length = 0;
    bool ok = (m_used - m_pos >= qsizetype(sizeof length) || fill(sizeof length));
    if (ok) {
        length = load<quint32>(m_buf.data() + m_pos);
        const qsizetype whole = qsizetype(sizeof length) + qsizetype(length);
        ok = m_used - m_pos >= whole || fill(whole);
    }
    if (ok) {
        const char* p = m_buf.data() + m_pos + sizeof length;
        Reader in(p, p + length);
        quint32 n = 0;
        ok = in.take(n) && in.has(n);   // every value takes a byte at least
        if (ok) {
            row.resize(n);
            QVariant* out = row.data();
            for (quint32 i = 0; ok && i < n; ++i)
                ok = readValue(in, out[i]);
        }
        m_pos += qsizetype(sizeof length) + qsizetype(length);
    }
    if (!ok) {
        m_failed = true;
        return false;
    }
    ++m_read;
    return true;
}

bool RowSpool::returnTo(const Mark& mark, QVariantList& row)
{
    if (mark.offset < 0 || mark.read < 1 || mark.offset >= m_size || !m_file.isOpen()) {
        m_failed = m_failed || mark.offset >= 0;
        return false;
    }
    // Still in the buffer when the replay is short; else read from there on.
    if (mark.offset >= m_bufStart && mark.offset < m_bufStart + m_used) {
        m_pos = qsizetype(mark.offset - m_bufStart);
    } else {
        m_bufStart = mark.offset;
        m_used = 0;
        m_pos = 0;
    }
    m_failed = false;
    m_read = mark.read - 1;
    return next(row);
}

} // namespace ado::detail
