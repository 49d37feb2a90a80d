#include "data/RowSpool.h"

#include <QDir>

namespace ado::detail {

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
    m_count = 0;
    m_read = 0;
    m_failed = false;
    return true;
}

bool RowSpool::append(const QVariantList& row)
{
    m_stream << row;
    if (m_stream.status() != QDataStream::Ok) {
        m_failed = true;
        return false;
    }
    ++m_count;
    return true;
}

bool RowSpool::finish(QString* error)
{
    if (m_failed || !m_file.flush()) {
        if (error)
            *error = QStringLiteral("The rows cannot be written to a temporary file: ") + m_file.errorString();
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
    m_stream >> row;
    if (m_stream.status() != QDataStream::Ok) {
        m_failed = true;
        return false;
    }
    ++m_read;
    return true;
}

} // namespace ado::detail
