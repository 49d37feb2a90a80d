#include "document/cShape.h"

void cShape::setQuery(const QString& strQuery) {
    m_query = strQuery;
}
