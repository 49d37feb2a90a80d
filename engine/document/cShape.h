#pragma once

// One node of an integration: its kind, number, key, caption, step record
// and the geometry of its picture. The document keeps the geometry itself,
// so a document without a window can still be saved and its links routed.

#include <QPointer>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

#include "data/Connection.h"
#include "data/Recordset.h"
#include "document/Records.h"
#include "run/clsLog.h"

class cShape {
public:
    // Picture size of a node that has no window to measure it (a 32-pixel
    // icon at 15 twips per pixel).
    static constexpr float DefaultPictureSize = 480.0F;

    cShape() = default;
    cShape(const cShape&) = delete;
    cShape& operator=(const cShape&) = delete;

    std::int16_t objType = aNothing;  // shpType
    NodeElements objElements;         // step record (see Records.h)
    std::int16_t Index = 0;           // node number; link ends hold it as text
    QString Key;                      // "k" + Index
    QString sCaption;                 // caption; also the step's name in scripts

    // Node picture in twips.
    float Left = 0.0F;
    float Top = 0.0F;
    float Width = DefaultPictureSize;
    float Height = DefaultPictureSize;
    // True when the node's picture was created on a window.
    bool hasPicture = false;

    // Typed access to the step record; nullptr when the node carries another.
    tData* dataRecord() { return std::get_if<tData>(&objElements); }
    const tData* dataRecord() const { return std::get_if<tData>(&objElements); }
    tStorage* storageRecord() { return std::get_if<tStorage>(&objElements); }
    const tStorage* storageRecord() const { return std::get_if<tStorage>(&objElements); }
    tDecission* decisionRecord() { return std::get_if<tDecission>(&objElements); }
    const tDecission* decisionRecord() const { return std::get_if<tDecission>(&objElements); }

    // ---- Step data access -------------------------------------------------
    // The step's connection; steps that name one connection share it (the
    // handle is shared). Opened on first use.
    ado::Connection cnSource;
    // Where the step reports; given by the run preparation.
    QPointer<clsLog> gbLog;

    // Test mode: True opens a transaction on the step's connection, False
    // rolls it back. Changes made in test mode are never committed.
    bool DebugMode() const { return m_debug; }
    void setDebugMode(bool value);

    // The step's recordset: the source rows of a data step, the rows a
    // storage step's current query selects. Closed for other kinds and when
    // the connection or the query fails (reported on gbLog). Opens cnSource
    // when it is closed.
    ado::Recordset data();
    // Stores the storage query and drops the step's recordset.
    void setQuery(const QString& strQuery);
    const QString& Query() const { return m_query; }
    // Runs sql on the step's connection and returns Field of its first row;
    // nullopt (Empty) on any failure.
    std::optional<QVariant> ExecuteSql(const QString& sql, const QString& Field);

private:
    bool openConnection();
    ado::Recordset openRecordset(const QString& sql, ado::CursorTypeEnum cursor, ado::LockTypeEnum lock);

    QString m_query;
    ado::Recordset m_data;
    bool m_debug = false;
};
