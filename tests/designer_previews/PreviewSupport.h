#pragma once

// Shared set-up of the preview tests: one offscreen QApplication for the
// whole binary, a temporary folder per test standing for the library folder
// (translations, run-data stores) and holding the SQLite databases, and a
// small builder of integrations: START -> SRC -> TGT -> END.

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>
#include <ostream>

#include "document/clsProcess.h"

inline void PrintTo(const QString& Text, std::ostream* Os) { *Os << '"' << Text.toStdString() << '"'; }

class PreviewTest : public ::testing::Test {
protected:
    // Runs after the derived fixture's members are gone: any window a test
    // left behind (hidden ones included) goes with it, so the designer's
    // single windows start afresh in the next test whatever the order.
    ~PreviewTest() override;
    void SetUp() override;
    void TearDown() override;

    QString conn(const QString& Db) const;
    // Creates the database when missing and runs the statements.
    void exec(const QString& Db, const QStringList& Statements);
    // COUNT(*) of a table read through a connection of its own (sees only
    // committed rows).
    int count(const QString& Db, const QString& Table);

    // The source table src(id, name, amount) with Rows rows: id 1..Rows,
    // name "n<id>", amount id*10; the row with id 2 has a Null name.
    void makeSource(int Rows);
    // The empty target table tgt(id, name).
    void makeTarget();

    // Builds START -> SRC (table src) -> TGT (Insert into tgt) -> END in
    // Process; TGT maps id and name from SRC. Leaves TGT current.
    void buildFlow(clsProcess& Process);

    // Top-level windows of a class currently alive.
    template <class T>
    static QList<T*> windowsOf();

    QTemporaryDir dir;
    cShapeRef src;
    cShapeRef tgt;
};

template <class T>
QList<T*> PreviewTest::windowsOf()
{
    QList<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w))
            found << t;
    return found;
}
