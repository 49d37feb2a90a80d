#include "stores/cStoreReader.h"

#include "data/Recordset.h"
#include "data/RowsetXml.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr qsizetype kGuardSize = 32;
constexpr QByteArrayView kDataTag = "<rs:data>";
constexpr QByteArrayView kDataEnd = "</rs:data>";
constexpr QByteArrayView kRowTag = "<z:row";

QByteArray readAt(int fd, qint64 offset, qint64 size)
{
    QByteArray bytes(static_cast<qsizetype>(std::max<qint64>(size, 0)), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done), offset + done);
        if (n <= 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    return bytes;
}

} // namespace

cStoreReader::cStoreReader(const cMeridoxData& Data, kindrecordset Store)
    : m_data(Data), m_store(Store), m_path(m_data.StoreFile(Store))
{
}

bool cStoreReader::StillTheSameFile(int Fd) const
{
    struct stat st {};
    if (::fstat(Fd, &st) != 0)
        return false;
    if (quint64(st.st_dev) != m_dev || quint64(st.st_ino) != m_ino || st.st_size < m_pos)
        return false;
    // Appends write past m_pos only: what was read stands as it was.
    return readAt(Fd, m_pos - m_guard.size(), m_guard.size()) == m_guard;
}

bool cStoreReader::Start(Slice& Out)
{
    Out.Restarted = true;
    m_started = false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const int fd = file.handle();
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    // The schema comes first; the rows after it may be many.
    QByteArray head;
    qsizetype dataTag = -1;
    for (qint64 want = 8192; dataTag < 0; want *= 4) {
        head = readAt(fd, 0, std::min<qint64>(want, st.st_size));
        dataTag = head.indexOf(kDataTag);
        if (dataTag < 0 && (head.size() >= st.st_size || want >= (1 << 20)))
            return false;
    }
    m_head = head.left(dataTag + kDataTag.size());
    m_pos = m_head.size();
    m_guard = m_head.right(kGuardSize);
    m_dev = quint64(st.st_dev);
    m_ino = quint64(st.st_ino);
    m_started = true;
    return true;
}

void cStoreReader::ReadWhole(Slice& Out)
{
    // Files this reader cannot follow (missing, damaged, written with pending
    // changes by another program) are read whole, as getRS reads them; the
    // next Read follows the file again when it changed meanwhile.
    Out.Restarted = true;
    Out.Rows.clear();
    Out.More = false;
    ado::Recordset rs = m_data.getRS(m_store);
    Out.Problem = m_data.LastError();
    m_fields = rs.isOpen() ? rs.fieldInfos() : std::vector<ado::FieldInfo>();
    if (rs.isOpen() && rs.RecordCount() > 0) {
        const int n = rs.FieldCount();
        Out.Rows.reserve(static_cast<size_t>(rs.RecordCount()));
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
            QVariantList row(n);
            for (int i = 0; i < n; ++i)
                row[i] = rs.value(i);
            Out.Rows.push_back(std::move(row));
        }
    }
    m_started = false;
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) == 0) {
        // Remembered so that an unchanged file is not read whole again.
        m_dev = quint64(st.st_dev);
        m_ino = quint64(st.st_ino);
        m_pos = st.st_size;
        m_guard.clear();
        m_head.clear();
    }
}

cStoreReader::Slice cStoreReader::Read(qint64 MaxBytes)
{
    Slice out;
    // Only a plain file is followed; anything else (a link among them) is
    // left to getRS, which refuses it and says why.
    struct stat link {};
    if (::lstat(QFile::encodeName(m_path).constData(), &link) == 0 && !S_ISREG(link.st_mode)) {
        ReadWhole(out);
        return out;
    }
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        ReadWhole(out);
        return out;
    }
    const int fd = file.handle();
    if (!m_started && m_head.isEmpty() && m_dev != 0) {
        // Last read whole: nothing to do while the file stays as it was.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && quint64(st.st_dev) == m_dev && quint64(st.st_ino) == m_ino
            && st.st_size == m_pos)
            return out;
    }
    if (!m_started || !StillTheSameFile(fd)) {
        if (!Start(out)) {
            ReadWhole(out);
            return out;
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ReadWhole(out);
        return out;
    }
    qint64 want = std::max<qint64>(MaxBytes, 4096);
    QByteArray region;
    qint64 next = m_pos;
    for (;;) {
        const QByteArray bytes = readAt(fd, m_pos, std::min<qint64>(want, st.st_size - m_pos));
        const bool atEnd = m_pos + bytes.size() >= st.st_size;
        // A value cannot hold a raw "<": the first end tag is the real one.
        if (const qsizetype end = bytes.indexOf(kDataEnd); end >= 0) {
            region = bytes.left(end);
            next = m_pos + end;
            break;
        }
        const qsizetype cut = bytes.lastIndexOf(kRowTag);
        if (atEnd) {
            // No closing tags: a row being written (or cut short) ends the
            // file; the rows before it are whole.
            region = bytes.left(std::max<qsizetype>(cut, 0));
            next = m_pos + region.size();
            break;
        }
        if (cut > 0) {
            region = bytes.left(cut);
            next = m_pos + cut;
            out.More = true;
            break;
        }
        want *= 2;  // one row longer than the slice
    }
    if (region.contains(kRowTag)) {
        ado::RowsetData data;
        QByteArray xml = m_head;
        xml += region;
        xml += "\n</rs:data>\n</xml>\n";
        if (!ado::readRowsetXml(xml, data)) {
            ReadWhole(out);
            return out;
        }
        if (m_fields.empty() || out.Restarted)
            m_fields = data.fields;
        out.Rows = std::move(data.rows);
    } else if (out.Restarted || m_fields.empty()) {
        // No rows yet: the fields from the schema alone, which must read.
        ado::RowsetData data;
        if (!ado::readRowsetXml(m_head + "\n</rs:data>\n</xml>\n", data) || data.fields.empty()) {
            ReadWhole(out);
            return out;
        }
        m_fields = data.fields;
    }
    if (next != m_pos) {
        const qint64 guard = std::min<qint64>(kGuardSize, next);
        m_guard = readAt(fd, next - guard, guard);
        m_pos = next;
    }
    return out;
}
