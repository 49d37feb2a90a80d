#pragma once

// The step data viewer: a read-only grid with the first 100 records that
// one step of an integration reads. Every ShowData makes a new window, so
// several viewers can be open at once.
//
//   frmData::ShowData(shapes->CurrCtl, process->Shapes());

#include <QString>
#include <QWidget>

class QTableWidget;
class cShapes;

class frmData : public QWidget {
    Q_OBJECT
public:
    explicit frmData(QWidget* Parent = nullptr);
    ~frmData() override;

    // Opens a new viewer on the node with that key and shows it (as a child
    // of the main window when there is one). Returns the window, which
    // deletes itself when closed; null when Shapes is null or has no node
    // under Key.
    static frmData* ShowData(const QString& Key, cShapes* Shapes);

    // Closes (unloads) the window.
    Q_INVOKABLE void ActionClose();

    QTableWidget* grdData() const { return m_grdData; }

    // Records a viewer shows at most.
    static constexpr int RecordLimit = 100;

private:
    QTableWidget* m_grdData = nullptr;
};
