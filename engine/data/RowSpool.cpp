#include "data/RowSpool.h"

#include <QDataStream>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Texts up to this many characters are read into the one a value held.
constexpr qsizetype kReusedChars = 4096;

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

// v = QVariant(x), written over the number v holds when it is one of the
// same kind (the record loop reads the same kinds into the same values).
template <class T>
void assignNumber(QVariant& v, T x)
{
    auto& d = v.data_ptr();
    if (!d.is_null && !d.is_shared && d.typeId() == QMetaType::fromType<T>().id())
        d.set<T>(x);
    else
        v = QVariant(x);
}

bool readValue(Reader& in, QVariant& v)
{
    quint8 tag = Invalid;
    if (!in.take(tag))
        return false;
    switch (tag) {
    case Invalid: v = QVariant(); return true;
    case LongLong: { qint64 x = 0; if (!in.take(x)) return false; assignNumber(v, qlonglong(x)); return true; }
    case Int: { qint32 x = 0; if (!in.take(x)) return false; assignNumber(v, int(x)); return true; }
    case Double: { double x = 0; if (!in.take(x)) return false; assignNumber(v, x); return true; }
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
        // The text the value held before is written over when no one else
        // holds it and it has room: the record loop then allocates nothing
        // for it. A large one is let go rather than kept for every row.
        if (n > 0 && v.data_ptr().typeId() == QMetaType::QString) {
            QString& held = *static_cast<QString*>(v.data());
            if (held.isDetached() && held.capacity() >= qsizetype(n) && held.capacity() <= kReusedChars) {
                held.resize(n);
                std::memcpy(held.data(), in.skip(bytes), size_t(bytes));
                return true;
            }
        }
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

// UTF-16 of UTF-8 text, units stored at out in the machine's order; the
// number of units, or -1 for text whose decoding is left to Qt: anything
// but ASCII and well-formed two- and three-byte characters, and among those
// the byte order mark and the noncharacters.
qsizetype utf8ToUtf16(const char* text, qsizetype n, char* out)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* const end = p + n;
    char* o = out;
    auto put = [&o](char16_t u) {
        std::memcpy(o, &u, sizeof u);
        o += sizeof u;
    };
    while (p != end) {
        if (end - p >= 8) {
            quint64 eight;
            std::memcpy(&eight, p, sizeof eight);
            if ((eight & 0x8080808080808080ULL) == 0) {
#if defined(__SSE2__)
                const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
                o += 16;
#else
                for (int k = 0; k < 8; ++k)
                    put(char16_t(p[k]));
#endif
                p += 8;
                continue;
            }
        }
        const unsigned c = *p;
        if (c < 0x80) {
            put(char16_t(c));
            ++p;
        } else if (c >= 0xc2 && c <= 0xdf) {
            if (end - p < 2 || (p[1] & 0xc0) != 0x80)
                return -1;
            put(char16_t(((c & 0x1f) << 6) | (p[1] & 0x3f)));
            p += 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            if (end - p < 3 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80)
                return -1;
            const unsigned u = ((c & 0x0f) << 12) | ((p[1] & 0x3fu) << 6) | (p[2] & 0x3fu);
            if (u < 0x800 || (u >= 0xd800 && u <= 0xdfff) || (u >= 0xfdd0 && u <= 0xfdef) || u == 0xfeff
                || u >= 0xfffe)
                return -1;
            put(char16_t(u));
            p += 3;
        } else {
            return -1;
        }
    }
    return (o - out) / qsizetype(sizeof(char16_t));
}

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

char* RowSpool::room(qsizetype n)
{
    // The buffer only grows for a row larger than it.
    if (m_used + n > qsizetype(m_buf.size()))
        m_buf.resize(size_t(std::max(m_used + n, qsizetype(m_buf.size()) * 2)));
    char* at = m_buf.data() + m_used;
    m_used += n;
    return at;
}

void RowSpool::beginRow(quint32 values)
{
    m_row = m_used;
    char* at = room(2 * sizeof(quint32));   // the row's length, known at its end
    std::memcpy(at + sizeof(quint32), &values, sizeof values);
}

void RowSpool::putNull()
{
    *room(1) = char(Invalid);
}

namespace {

template <class T>
void putTagged(char* at, quint8 tag, const T& x)
{
    *at = char(tag);
    std::memcpy(at + 1, &x, sizeof x);
}

} // namespace

void RowSpool::putLongLong(qint64 x) { putTagged(room(1 + sizeof x), LongLong, x); }
void RowSpool::putInt(qint32 x) { putTagged(room(1 + sizeof x), Int, x); }
void RowSpool::putDouble(double x) { putTagged(room(1 + sizeof x), Double, x); }

void RowSpool::putString(const QString& s)
{
    if (s.isNull()) {
        putTagged(room(1 + sizeof kNullLength), String, kNullLength);
        return;
    }
    const qsizetype bytes = s.size() * qsizetype(sizeof(char16_t));
    char* at = room(1 + sizeof(quint32) + bytes);
    putTagged(at, String, quint32(s.size()));
    std::memcpy(at + 1 + sizeof(quint32), s.constData(), size_t(bytes));
}

void RowSpool::putUtf8(const char* p, qsizetype n)
{
    // Each byte gives at most one UTF-16 unit. Text that Qt's decoding could
    // give otherwise than a plain reading (empty text, a byte order mark,
    // noncharacters, four-byte characters, anything malformed) is left to it.
    if (p && n > 0 && n < qsizetype(kNullLength)) {
        const qsizetype start = m_used;
        char* at = room(1 + sizeof(quint32) + n * qsizetype(sizeof(char16_t)));
        const qsizetype units = utf8ToUtf16(p, n, at + 1 + sizeof(quint32));
        if (units >= 0) {
            putTagged(at, String, quint32(units));
            m_used = start + 1 + qsizetype(sizeof(quint32)) + units * qsizetype(sizeof(char16_t));
            return;
        }
        m_used = start;
    }
    putString(QString::fromUtf8(p, n));
}

bool RowSpool::putValue(const QVariant& v)
{
    const int kind = !v.isValid() ? int(QMetaType::UnknownType) : v.isNull() ? -1 : v.typeId();
    switch (kind) {
    case QMetaType::UnknownType: putNull(); return true;
    case QMetaType::LongLong: putLongLong(qint64(*static_cast<const qlonglong*>(v.constData()))); return true;
    case QMetaType::Int: putInt(qint32(*static_cast<const int*>(v.constData()))); return true;
    case QMetaType::Double: putDouble(*static_cast<const double*>(v.constData())); return true;
    case QMetaType::Bool: putTagged(room(2), Bool, quint8(*static_cast<const bool*>(v.constData()) ? 1 : 0)); return true;
    case QMetaType::QString: putString(*static_cast<const QString*>(v.constData())); return true;
    case QMetaType::QByteArray: {
        const QByteArray& b = *static_cast<const QByteArray*>(v.constData());
        if (b.isNull()) {
            putTagged(room(1 + sizeof kNullLength), Bytes, kNullLength);
            return true;
        }
        char* at = room(1 + sizeof(quint32) + b.size());
        putTagged(at, Bytes, quint32(b.size()));
        std::memcpy(at + 1 + sizeof(quint32), b.constData(), size_t(b.size()));
        return true;
    }
    default: {   // typed Nulls included
        QByteArray saved;
        {
            QDataStream s(&saved, QIODevice::WriteOnly);
            prepared(s) << v;
            if (s.status() != QDataStream::Ok) {
                m_used = m_row;
                m_failed = true;
                return false;
            }
        }
        putTagged(room(1 + sizeof(quint32)), Other, quint32(saved.size()));
        std::memcpy(room(saved.size()), saved.constData(), size_t(saved.size()));
        return true;
    }
    }
}

bool RowSpool::endRow()
{
    if (m_failed) {
        m_used = std::min(m_used, m_row);
        return false;
    }
    const qsizetype length = m_used - m_row - qsizetype(sizeof(quint32));
    if (length > qsizetype(kNullLength)) {
        m_used = m_row;
        m_errno = EFBIG;
        m_failed = true;
        return false;
    }
    const quint32 n = quint32(length);
    std::memcpy(m_buf.data() + m_row, &n, sizeof n);
    ++m_count;
    return m_used < kBlock || flush();
}

bool RowSpool::append(const QVariantList& row)
{
    if (m_failed)
        return false;
    beginRow(quint32(row.size()));
    for (const QVariant& v : row)
        if (!putValue(v))
            return false;
    return endRow();
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
