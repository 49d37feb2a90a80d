#pragma once

// Follows one run-data store as it grows, for screens that show it and
// refresh themselves: the rows are read a slice at a time, and a later read
// returns only the rows added since. Stores grow by appends in place (the
// new row where the closing tags stood), so what was read stays as it was;
// any other change writes a new file, and the reader then starts over.
//
//   cStoreReader reader(cMeridoxData(), executionlogdata);
//   for (;;) {
//       cStoreReader::Slice s = reader.Read(1 << 20);
//       if (s.Restarted) grid.clear();
//       grid.add(s.Rows);                 // values in the order of Fields()
//       if (!s.More) break;               // all read; call Read again later
//   }

#include "data/Field.h"
#include "stores/cMeridoxData.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>

#include <vector>

class cStoreReader {
public:
    cStoreReader(const cMeridoxData& Data, kindrecordset Store);

    struct Slice {
        bool Restarted = false;             // earlier rows no longer hold: start afresh
        std::vector<QVariantList> Rows;     // rows not read before, in store order
        bool More = false;                  // more rows are there to read now
        QString Problem;                    // what the store said (a damaged file set aside)
    };

    // Reads up to about MaxBytes of the file's rows not read yet. A missing
    // store is created empty, a damaged one set aside, as getRS does.
    Slice Read(qint64 MaxBytes);

    // The store's fields, known after the first Read.
    const std::vector<ado::FieldInfo>& Fields() const { return m_fields; }

private:
    bool Start(Slice& Out);
    bool StillTheSameFile(int Fd) const;
    void ReadWhole(Slice& Out);

    cMeridoxData m_data;
    kindrecordset m_store;
    QString m_path;
    bool m_started = false;
    quint64 m_dev = 0;
    quint64 m_ino = 0;
    QByteArray m_head;        // the file up to the start of its rows (the schema)
    qint64 m_pos = 0;         // where the rows not read yet start
    QByteArray m_guard;       // the bytes just before m_pos when they were read
    std::vector<ado::FieldInfo> m_fields;
};
