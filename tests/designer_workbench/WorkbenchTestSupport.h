#pragma once

// Shared set-up of the workbench tests: one offscreen QApplication, a
// private library folder, and helpers to drive a workbench window.

#include <QPointer>
#include <QString>
#include <QTemporaryDir>

#include "workbench/frmWorkBench.h"

// The folder that stands for the engine library's folder in these tests.
QString TestHomeFolder();

// The sample integration with its database paths pointing into Folder.
QString WriteSampleIntegration(const QString& Folder);

// Runs the deferred deletions of closed windows.
void FlushDeletes();

// A left click on node picture Index (press, release, click) at a point
// inside the picture.
void ClickNode(frmWorkBench& Window, int Index);

// The node of a caption; null when none.
cShapeRef NodeByCaption(frmWorkBench& Window, const QString& Caption);
