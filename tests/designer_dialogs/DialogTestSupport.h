#pragma once

// Shared set-up of the step dialog and formula editor tests: an offscreen
// application, a private library folder, a connection registry with
// scripted prompts, real SQLite databases and a workbench window holding
// the new-integration template.

#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "app/UserDialogs.h"
#include "connections/cConnections.h"
#include "document/cShapes.h"

class frmWorkBench;

// Answers the registry's prompts from queues.
class cTestPrompts : public IConnectionPrompts {
public:
    std::deque<std::optional<QString>> NewStrings;
    std::deque<std::optional<QString>> Names;
    std::vector<QString> Messages;

    std::optional<QString> PromptNew() override;
    bool PromptEdit(QString& ConnectionString) override;
    std::optional<QString> InputBox(const QString& Prompt, const QString& Title, const QString& Default) override;
    int MsgBox(const QString& Prompt, int Buttons, const QString& Title) override;
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds a registry entry through the registry's own new-connection path.
    void AddConnection(const QString& Name, const QString& ConnectionString);
    // Runs statements on an SQLite file (created when missing).
    static void RunSql(const QString& Path, const QStringList& Statements);
    // The node of the workbench's document with a caption; made current.
    cShapeRef SelectNode(const QString& Caption);
    // A node added to the document, as the canvas adds one; made current.
    cShapeRef AddNode(int Kind, const QString& Caption);
    // The message boxes shown so far, with their answers queued.
    cScriptedDialogs& Boxes() const { return **m_boxes; }

    QTemporaryDir m_dir;
    QString m_salesDb;                  // tables Orders, Customers, view BigOrders
    std::unique_ptr<cTestPrompts> m_prompts;
    frmWorkBench* m_wb = nullptr;       // owned; deleted in TearDown
    std::unique_ptr<cScriptedDialogsGuard> m_boxes;
};

// The field names of a step field list, in order.
QStringList FieldNames(const tFieldsRef& Fields);
