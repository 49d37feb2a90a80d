#include "document/cFormulas.h"

const QString cFormulas::DuplicateKeyDescription =
    QStringLiteral("This key is already associated with an element of this collection");

cFormulas::cFormulas(QObject* parent) : QObject(parent) {}
cFormulas::~cFormulas() = default;

void cFormulas::setForm(IDocumentView* form) {
    m_form = form;
}

bool cFormulas::AddFormula(const QString& xName, const QString& xText) {
    // A formula is reached by its name only, so a nameless one is useless.
    if (xName.isEmpty()) {
        emit Error(QStringLiteral("Invalid procedure call or argument"));
        return false;
    }
    if (!m_items.Add(tFormula{xName, xText}, xName)) {
        emit Error(DuplicateKeyDescription);
        return false;
    }
    return true;
}
