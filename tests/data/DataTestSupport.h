#pragma once

// Helpers shared by the data tests.

#include "data/Connection.h"

#include <QString>
#include <QUuid>
#include <gtest/gtest.h>

// The connection string of the test PostgreSQL server; empty when none runs.
inline QString pgString()
{
    return qEnvironmentVariable("MERIDOX_PG_CONNECTION");
}

// One table name per test run so the shared server database stays clean.
inline QString uniqueName(const QString& base)
{
    return base + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

// Runs a statement that must succeed.
inline void exec(ado::Connection& cn, const QString& sql)
{
    cn.Errors().Clear();
    cn.Execute(sql);
    ASSERT_EQ(cn.Errors().Count(), 0) << sql.toStdString() << ": " << cn.Errors().Item(0).Description.toStdString();
}
