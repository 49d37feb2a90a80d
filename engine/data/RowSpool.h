#pragma once

// Rows written once to a temporary file and read back in order: a source
// of any size is held on disk, not in memory (internal to the data layer).

#include <QTemporaryFile>
#include <QVariantList>

#include <vector>

namespace ado::detail {

// UTF-8 text decoded as QString::fromUtf8 decodes it, the UTF-16 units
// stored at out (room for n, in the machine's order, any alignment): their
// number, or -1 where Qt's own decoding is left to say what it gives.
qsizetype utf8ToUtf16(const char* p, qsizetype n, char* out);

class RowSpool {
public:
    // False when no temporary file can be made (the description says why).
    bool create(QString* error);
    bool append(const QVariantList& row);
    // A row given value by value, held as append holds the same values:
    // beginRow, a put for each of its values, then endRow.
    void beginRow(quint32 values);
    void putNull();   // an invalid value
    void putLongLong(qint64 x);
    void putInt(qint32 x);
    void putDouble(double x);
    // Text in UTF-8, held as the QString that QString::fromUtf8 gives.
    void putUtf8(const char* p, qsizetype n);
    bool putValue(const QVariant& v);
    bool endRow();
    // Ends writing; reading starts at the first row.
    bool finish(QString* error);
    bool rewind();
    // The next row; false at the end or when the file cannot be read
    // (failed() then tells the two apart).
    bool next(QVariantList& row);
    bool failed() const { return m_failed; }
    long count() const { return m_count; }

    // The row last read, as a place to read it again from (a run replays
    // records whose work was undone).
    struct Mark {
        qint64 offset = -1;
        long read = 0;
    };
    Mark lastRow() const { return {m_rowStart, m_read}; }
    // Reads the marked row again; the rows after it follow.
    bool returnTo(const Mark& mark, QVariantList& row);

private:
    char* room(qsizetype n);
    void putString(const QString& s);
    bool flush();
    // At least need bytes from the read position on in the buffer.
    bool fill(qsizetype need);
    QString writeError() const;

    QTemporaryFile m_file;
    // Rows are encoded here and go to the file a large block at a time;
    // reading fills it from the file the same way.
    std::vector<char> m_buf;
    qsizetype m_used = 0;      // writing: bytes encoded; reading: bytes held
    qsizetype m_pos = 0;       // reading: next byte to decode
    qsizetype m_row = 0;       // writing: where the row being put starts
    qint64 m_bufStart = 0;     // reading: file offset of the buffer's first byte
    qint64 m_size = 0;         // bytes in the file
    long m_count = 0;
    long m_read = 0;
    qint64 m_rowStart = -1;
    bool m_failed = false;
    int m_errno = 0;   // the system's reason for the first failed write
};

} // namespace ado::detail
