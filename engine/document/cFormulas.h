#pragma once

// The named formulas of one integration, keyed by name without regard to
// letter case, in order of addition.

#include <QObject>
#include <QPointer>
#include <QString>

#include "document/IDocumentView.h"
#include "document/Records.h"
#include "document/cCollection.h"

class cFormulas : public QObject {
    Q_OBJECT
public:
    // The description carried by Error for a name that is already present.
    static const QString DuplicateKeyDescription;

    explicit cFormulas(QObject* parent = nullptr);
    ~cFormulas() override;

    void setForm(IDocumentView* form);  // stored only
    IDocumentView* Form() const { return m_form.data(); }

    int Count() const { return m_items.Count(); }
    // Callers read, iterate and remove formulas through it; a formula is
    // changed by removing it and adding it again.
    cCollection<tFormula>& Collection() { return m_items; }
    const cCollection<tFormula>& Collection() const { return m_items; }

    // Adds a formula at the end. A name already present in any letter case
    // is refused: Error is raised, nothing changes and the result is false.
    bool AddFormula(const QString& xName, const QString& xText);

signals:
    void Error(const QString& sError);

private:
    cCollection<tFormula> m_items;
    QPointer<IDocumentView> m_form;
};
