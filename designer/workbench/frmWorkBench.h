#pragma once

// The document window of one integration: the flowchart canvas `picFlow`
// above, the field mapping panel (tree `treeSource`, button strip
// `picButtons`, grid `grdTarget`) below. The window owns its `clsProcess`;
// the engine draws the document on the canvas through the window's
// IDocumentView (DocumentView()). The main window routes its commands to the
// Q_INVOKABLE members below by name.
//
// Coordinates passed to the event handlers are twips of the canvas (15 per
// pixel); mouse buttons use the numbering 1 left, 2 right, 4 middle and
// Shift the numbering 1 shift, 2 control, 4 alt.

#include <QPointF>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "document/cShapes.h"
#include "document/clsProcess.h"

class FlowCanvas;
class IDocumentView;
class QCloseEvent;
class QLabel;
class QSplitter;
class QTableWidget;
class QTableWidgetItem;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

class frmWorkBench : public QWidget {
    Q_OBJECT
public:
    // Caption and file title of a document never saved.
    static constexpr const char* NewIntegrationTitle = "NewIntegration.xml";

    // Grid columns (0-based column numbers of `grdTarget`).
    enum GridColumn { colLink = 0, colLookup = 1, colField = 2, colMap = 3, colLookupExp = 4 };
    // Icons of the grid's image list (the number a cell holds; -1 none).
    enum GridIcon { icoNone = -1, icoLookup = 0, icoFormula = 1, icoCheck2 = 2, icoWand = 3 };

    explicit frmWorkBench(QWidget* Parent = nullptr);
    ~frmWorkBench() override;

    // ---- Document -----------------------------------------------------------
    // The window's process object, created on first use.
    clsProcess* Process();
    clsProcess* process() { return Process(); }
    // The current node (`CurrCtl` of Shapes); null when none.
    cShapeRef CurrentShape();
    // The window as the engine sees it.
    IDocumentView* DocumentView() const;

    // ---- Dirty flag, file and caption ---------------------------------------
    // Sets the dirty flag and appends "*" to the caption when it lacks one.
    Q_INVOKABLE void Modified();
    bool IsModified() const { return m_dirty; }
    // True while a run of the document is in progress or a test preview
    // holds it: the commands that change the document are refused then.
    bool IsBusy() const;
    // Sets or clears the dirty flag alone, leaving the caption as it is
    // (the decision-condition edit).
    void SetModifiedFlag(bool Dirty) { m_dirty = Dirty; }
    const QString& FilePath() const { return m_filePath; }
    const QString& FileTitle() const { return m_fileTitle; }
    QString Caption() const { return windowTitle(); }

    // ---- File commands ------------------------------------------------------
    // New integration: opens another workbench window with the empty
    // template; this window is not touched.
    Q_INVOKABLE void ActionAdd();
    Q_INVOKABLE void ActionOpen();
    Q_INVOKABLE void ActionClose();
    Q_INVOKABLE void ActionSave();
    Q_INVOKABLE void ActionSaveAs();
    // Loads a document into the window; an empty name loads the template.
    // A load error is shown to the user.
    // False (the engine's text shown) when the file could not be loaded.
    bool OpenFlowChart(const QString& FileName);
    // The window ActionAdd made: template loaded, shown (as a tab of the
    // main window when there is one). Never null.
    static frmWorkBench* NewIntegration();

    // ---- Canvas editing -----------------------------------------------------
    // Arm placement of a node kind; the next left press on the canvas places it.
    Q_INVOKABLE void ActionAddStart();
    Q_INVOKABLE void ActionAddProcess();
    Q_INVOKABLE void ActionAddDecision();
    Q_INVOKABLE void ActionAddStorage();
    Q_INVOKABLE void ActionAddData();
    Q_INVOKABLE void ActionAddDocument();
    Q_INVOKABLE void ActionAddProcessPredef();
    Q_INVOKABLE void ActionAddWindow();
    Q_INVOKABLE void ActionAddPoint();
    Q_INVOKABLE void ActionAddStop();
    // Link / unlink the previous node and the current node.
    Q_INVOKABLE void ActionLinkNodes();
    Q_INVOKABLE void ActionUnLinkNodes();
    // Deletes what the active control shows: the current node (canvas) or
    // the selected row's mapping (grid).
    Q_INVOKABLE void ActionDelete();
    // The armed node kind (a shpType), 0 when none.
    int PendingShapeType() const { return m_pendingKind; }
    bool IsDragging() const { return m_dragging; }

    // Event handlers of the canvas and of the node pictures (twips).
    void picFlow_MouseDown(int Button, int Shift, float X, float Y);
    void picFlow_KeyDown(int KeyCode, int Shift);
    // X, Y: the pointer inside node picture Index.
    void shp_MouseDown(int Index, int Button, int Shift, float X, float Y);
    void shp_MouseMove(int Index, int Button, int Shift, float X, float Y);
    void shp_MouseUp(int Index, int Button, int Shift, float X, float Y);
    void shp_Click(int Index);

    // The control that commands depending on it act on: "shp" (a node
    // picture), "picFlow", "grdTarget", "treeSource", or empty. Follows the
    // user's presses and focus; tests may set it.
    QString ActiveControlName() const { return m_activeControl; }
    void SetActiveControl(const QString& Name) { m_activeControl = Name; }

    // ---- Step, run, test and print commands ---------------------------------
    // Defined in frmWorkBenchCommands.cpp.
    Q_INVOKABLE void ActionProperties();
    Q_INVOKABLE void ActionPreview();
    Q_INVOKABLE void actionTest();
    Q_INVOKABLE void ActionRun();
    Q_INVOKABLE void ActionPrintPreview();
    Q_INVOKABLE void ActionPrint();
    // Double click on node picture Index: opens the node's dialog.
    void shp_DblClick(int Index);

    // ---- Field mapping panel ------------------------------------------------
    Q_INVOKABLE void Link_Add();
    Q_INVOKABLE void Link_Remove();
    Q_INVOKABLE void Link_Formula();
    Q_INVOKABLE void Link_Lookup();
    Q_INVOKABLE void Link_Clear();
    Q_INVOKABLE void Link_Auto();
    Q_INVOKABLE void Del_Link_Formula();
    // The commands only the button strip offers.
    void Link_LookupFormula();
    void Link_RemoveLookup();

    // Puts one step and its fields into the tree (root key = the step's Key).
    void ShowSource(const cShapeRef& Step);
    // Puts the root "FORMULA" and every formula ("FK" + name) into the tree.
    void ShowFormulas();
    // Fills the grid with a storage step's fields; the mapping commands
    // write into this step.
    void ShowTarget(const cShapeRef& Step);
    // Clears the tree and lists the formulas, then every data and storage step.
    void RefreshSourcePanel();
    // The step whose fields the grid shows; null when none (or it was deleted).
    cShapeRef TargetShape() const;

    // The tree keeps each node's key in Qt::UserRole of column 0; a field
    // node has no key. Full paths join the texts from the root with "!".
    static QString TreeNodeKey(const QTreeWidgetItem* Node);
    static QString TreeFullPath(const QTreeWidgetItem* Node);
    // The node with a key; null when none.
    QTreeWidgetItem* TreeNode(const QString& Key) const;
    // Adds a node under ParentKey (a root when ParentKey is empty); children
    // are kept sorted by text. Returns the new node, null when the parent
    // is missing.
    QTreeWidgetItem* AddTreeNode(const QString& ParentKey, const QString& Key, const QString& Text);
    // Removes the node with a key and its children; a missing key is no error.
    void RemoveTreeNode(const QString& Key);
    // Selects (and makes current) the node with a key; false when none.
    bool SelectTreeNode(const QString& Key);

    // Grid access, rows numbered from 1 as the mapping commands do.
    int GridRows() const;
    // The selected row, 0 when none.
    int SelectedGridRow() const;
    void SelectGridRow(int Row);
    QString GridText(int Row, int Column) const;
    int GridIcon(int Row, int Column) const;
    // A click on a column header: sorts by that column, alternating direction.
    void SortGridByColumn(int Column);

    // ---- Controls (object names as the engine and the other windows know them)
    QSplitter* vlmSplitter1 = nullptr;
    FlowCanvas* picFlow = nullptr;
    QWidget* picLeft = nullptr;
    QTreeWidget* treeSource = nullptr;
    QWidget* picButtons = nullptr;
    QTableWidget* grdTarget = nullptr;

protected:
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void BuildControls();
    void SetupGrid();
    void ApplyCaptionAfterSave();
    // Writes the document to Path, which becomes its file; false (the user
    // told, file path and title unchanged) when it was not written.
    bool SaveFlowChart(const QString& Path);
    // The save command: true when nothing needed saving or the document was
    // written, false when it was not (no file chosen, write error).
    bool SaveChanges();
    // When busy, tells the user the document cannot be changed now; true
    // then, and the calling command does nothing.
    bool RefuseWhileBusy();
    void ClearFlowChart();
    // Common part of the arming members.
    void ArmPlacement(int Kind, bool OnCanvas);
    void Disarm();
    void ShowCurrentMarker(int Index);
    void ShowPreviousMarker(const QString& Key);
    void DeleteSelectedNode();
    // Takes back a node just placed whose dialog was cancelled; Previous is
    // the node that stood in front of the stop node before a storage node
    // was put there (0: none was).
    void TakeBackPlacedNode(const cShapeRef& Node, int Previous, bool WasDirty, const QString& Caption);
    void ShowLinkError(const QString& Text);
    void ShowCanvasPopup(QPointF Twips);
    void ShowMappingPopup(QWidget* Source, const QPoint& Pos);
    // Mapping helpers.
    bool WriteFieldRecord(const QString& FieldName, const QString* Value, const QString* Lookup);
    QString ReferenceOf(const QTreeWidgetItem* Node) const;
    void SetGridIcon(int Row, int Column, int Icon);
    void SetGridText(int Row, int Column, const QString& Text);
    void FitGridColumns();
    // The first width of the Field and Map columns, in pixels.
    static constexpr int kTextColumnWidth = 150;
    void EditFormulaFor(int Column);
    void GridDoubleClicked();
    void SortGrid();
    void TreeDoubleClicked(QTreeWidgetItem* Node);

    std::unique_ptr<clsProcess> m_process;
    std::weak_ptr<cShape> m_target;
    bool m_dirty = false;
    bool m_closing = false;
    // Set while a command of the user edits the flowchart: the engine's
    // refusals are then shown.
    bool m_userEdit = false;
    QString m_filePath;
    QString m_fileTitle;
    QString m_activeControl;
    int m_pendingKind = 0;
    bool m_pendingOnCanvas = false;
    bool m_dragging = false;
    // Set by the dialog of a step when the user cancelled it.
    bool m_stepDialogCancelled = false;
    QPointF m_dragOrigin;
    // The grid's sort key (column, -1 none) and direction.
    int m_sortColumn = -1;
    bool m_sortDescending = false;
};
