#pragma once

// Shared set-up of the run tests: a temporary folder that holds the SQLite
// databases and the run-data stores, a small builder of flows and readers of
// the target tables and of the stores.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <initializer_list>
#include <ostream>
#include <vector>

#include "data/Connection.h"
#include "data/Recordset.h"
#include "document/clsProcess.h"
#include "run/RunEngine.h"
#include "stores/cMeridoxData.h"

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

using Counts = tStatistic::Counts;

// Builds a flow inside a process: nodes are linked in the order given to chain().
class Flow {
public:
    explicit Flow(clsProcess& process) : m_process(process) {}

    cShapeRef node(std::int16_t kind, const QString& caption) {
        return m_process.Shapes()->AddShape(kind, 0, 0, caption);
    }
    cShapeRef source(const QString& caption, const QString& connName, const QString& connString,
                     const QString& type, const QString& source) {
        cShapeRef n = node(aData, caption);
        tData d;
        d.connName = connName;
        d.connString = connString;
        d.sourcetype = type;
        d.Source = source;
        d.fields = std::make_shared<tFieldsList>();
        m_process.Shapes()->AddElementsToNode(n->Key, d);
        return n;
    }
    // fields: {name, value, lookup}
    cShapeRef storage(const QString& caption, const QString& connName, const QString& connString,
                      const QString& table, const QString& operation,
                      std::initializer_list<std::array<QString, 3>> fields) {
        cShapeRef n = node(aStorage, caption);
        tStorage s;
        s.connName = connName;
        s.connString = connString;
        s.targettype = "table";
        s.target = table;
        s.shpOperation = operation;
        s.fields = std::make_shared<tFieldsList>();
        for (const auto& f : fields)
            s.fields->Add(tFields{f[0], 202, 255, f[1], f[2]}, f[0]);
        m_process.Shapes()->AddElementsToNode(n->Key, s);
        return n;
    }
    void link(const cShapeRef& from, const cShapeRef& to, const QString& caption = QString()) {
        ASSERT_TRUE(m_process.Lines()->addLine(QString::number(from->Index), QString::number(to->Index), caption));
    }
    void chain(std::initializer_list<cShapeRef> nodes) {
        const cShapeRef* prev = nullptr;
        for (const cShapeRef& n : nodes) {
            if (prev)
                link(*prev, n);
            prev = &n;
        }
    }

private:
    clsProcess& m_process;
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        // The stores and the translation database land in the test's folder.
        qputenv("MERIDOX_HOME", dir.path().toUtf8());
        qputenv("MERIDOX_CONFIG", dir.filePath("none.conf").toUtf8());
    }

    QString conn(const QString& name) const {
        return "Provider=SQLite;Data Source=" + dir.filePath(name + ".db");
    }

    // Creates the database when missing and runs the statements on it.
    void exec(const QString& name, const QStringList& statements) {
        ado::Connection c;
        c.setCreateIfMissing(true);
        ASSERT_TRUE(c.Open(conn(name))) << c.lastError().Description.toStdString();
        for (const QString& sql : statements) {
            long affected = 0;
            c.Execute(sql, &affected);
            ASSERT_EQ(c.Errors().Count(), 0) << sql.toStdString() << ": "
                                             << c.Errors().Item(0).Description.toStdString();
        }
    }

    // Rows of a query, each as its values joined by "|" (Null as "~").
    QStringList rows(const QString& name, const QString& sql) {
        ado::Connection c;
        QStringList out;
        EXPECT_TRUE(c.Open(conn(name)));
        ado::Recordset rs = c.Execute(sql);
        EXPECT_TRUE(rs.isOpen()) << sql.toStdString();
        if (!rs.isOpen())
            return out;
        while (!rs.IsEOF()) {
            QStringList values;
            for (int i = 0; i < rs.FieldCount(); ++i)
                values << (rs.value(i).isNull() ? QStringLiteral("~") : rs.value(i).toString());
            out << values.join('|');
            rs.MoveNext();
        }
        return out;
    }

    // A source table "src" with the given rows of (id, name, city).
    void sourceTable(const QStringList& values) {
        QStringList sql{"CREATE TABLE src (id INTEGER, name TEXT, city TEXT)"};
        for (const QString& v : values)
            sql << "INSERT INTO src VALUES (" + v + ")";
        exec("source", sql);
    }

    std::vector<cMeridoxData::Row> storeRows(kindrecordset kind) {
        std::vector<cMeridoxData::Row> out;
        ado::Recordset rs = cMeridoxData(dir.path()).getRS(kind);
        if (!rs.isOpen())
            return out;
        if (rs.RecordCount() > 0)
            rs.MoveFirst();
        while (rs.hasCurrentRecord()) {
            cMeridoxData::Row row;
            for (int i = 0; i < rs.FieldCount(); ++i) {
                QVariant v = rs.value(i);
                if (v.typeId() == QMetaType::QString)
                    v = v.toString().trimmed();
                row.insert(rs.fieldInfos()[size_t(i)].name.toUpper(), v);
            }
            out.push_back(row);
            rs.MoveNext();
        }
        return out;
    }
    std::vector<cMeridoxData::Row> executions() { return storeRows(executiondata); }
    std::vector<cMeridoxData::Row> errorRows() { return storeRows(executionlogdata); }

    // The execution row against the run's statistics: the counting rules
    // take inserts, updates and deletes from Totals and errors from Errors(5).
    static void expectExecutionRow(const cMeridoxData::Row& row, const tStatistic& st, const QString& result) {
        EXPECT_EQ(row.value("ROWS").toInt(), st.TotalRecords);
        EXPECT_EQ(row.value("RINSERTS").toInt(), st.Totals[1]);
        EXPECT_EQ(row.value("RUPDATES").toInt(), st.Totals[2]);
        EXPECT_EQ(row.value("RDELETED").toInt(), st.Totals[4]);
        EXPECT_EQ(row.value("RERRORS").toInt(), st.Errors[5]);
        EXPECT_EQ(row.value("RESULT").toString(), result);
        EXPECT_FALSE(row.value("ID").isNull());
        EXPECT_EQ(row.value("RUNTIME").toDateTime().toSecsSinceEpoch(), st.StartTime.toSecsSinceEpoch());
        EXPECT_EQ(row.value("END").toDateTime().toSecsSinceEpoch(), st.EndTime.toSecsSinceEpoch());
    }

    QTemporaryDir dir;
};
