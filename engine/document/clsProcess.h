#pragma once

// One integration: its document (nodes, links, formulas), its file, and its
// run log. The designer window, the runner and the test preview each hold one.

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

#include "document/IDocumentView.h"
#include "document/cFormulas.h"
#include "document/cLines.h"
#include "document/cShapes.h"
#include "run/clsLog.h"

class clsProcess : public QObject {
    Q_OBJECT
public:
    explicit clsProcess(QObject* parent = nullptr);
    ~clsProcess() override;

    // ---- Document -----------------------------------------------------------
    // The window the document is drawn on (may be null). Stored only: it
    // reaches the collections at the next LoadIntegration.
    void setForm(IDocumentView* form);
    IDocumentView* Form() const { return m_form.data(); }

    // The three collections, created with the process and never replaced.
    cShapes* Shapes() const { return m_shapes.get(); }
    cLines* Lines() const { return m_lines.get(); }
    cFormulas* Formulas() const { return m_formulas.get(); }

    // The document's integration file.
    const QString& Filename() const { return m_filename; }

    // Puts node cb in front of the stop node: previous -> stop becomes
    // previous -> cb -> stop. False (nothing changed) without a stop node,
    // without a link into it, or when cb is not a node of this document
    // that can be put there.
    bool insertShapeAtEnd(const cShapeRef& cb);
    // Whether a storage field's mapping or lookup is "FORMULA!" + that name
    // (names compared without regard to letter case).
    bool isFormulaUsed(const QString& formulaname) const;

    // ---- File ---------------------------------------------------------------
    // Builds the document from a file, or from the empty integration when
    // Filename is empty. Returns empty text, or the error text; on error the
    // document and Filename are unchanged.
    QString LoadIntegration(const QString& Filename, IDocumentView* form = nullptr);
    // Writes the document to Filename (when given, it becomes the document's
    // file on success) or to the document's file. Returns empty text, or the
    // error text; on error the old file and Filename are kept.
    QString SaveIntegration(const QString& Filename = QString());

    // ---- Log ----------------------------------------------------------------
    clsLog* Log() const { return m_log.get(); }

    // ---- Run ----------------------------------------------------------------
    // Run entry points, statistics and run events live here; they are
    // implemented in engine/run/.

private:
    void AttachDocumentForm();
    cShapeRef FindStopStep() const;

    QPointer<IDocumentView> m_form;
    std::unique_ptr<cShapes> m_shapes;
    std::unique_ptr<cLines> m_lines;
    std::unique_ptr<cFormulas> m_formulas;
    std::unique_ptr<clsLog> m_log;
    QString m_filename;

    // ---- Run state ----------------------------------------------------------
};
