#pragma once

// The integration file: reading it into a detached structure (so that a
// load either applies whole or not at all) and writing a document to it.

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "document/Records.h"

class clsProcess;

namespace IntegrationFile {

struct FileLink {
    int target = 0;  // 1-based position in the file's node order; 0 for none
    QString caption;
    QString targetText;  // as written, for the log of a link left out
};

struct FileNode {
    std::int16_t kind = aNothing;
    float x = 0.0F;
    float y = 0.0F;
    QString caption;
    NodeElements elements;  // for decision, storage and data nodes
    std::vector<FileLink> next;
};

struct FileDocument {
    std::vector<FileNode> nodes;
    std::vector<tFormula> formulas;
};

// The integration every new document starts from.
extern const char* const EmptyIntegration;

QString ShapeTypeToWord(int kind);
std::int16_t WordToShapeType(const QString& word);

// The number at the start of a text, as Visual Basic's Val reads it:
// blanks skipped, stops at the first character that cannot continue the
// number, 0 when there are no digits.
double Val(const QString& text);

// Parses a file's content. On failure returns nothing and sets error to the
// parse-error text (url is shown as the document's address).
std::optional<FileDocument> Parse(const QByteArray& content, const QString& url, QString& error);

// The parse-error text for a failure that is not the parser's own
// (for instance a file that cannot be opened).
QString ParseErrorText(qint64 code, const QString& reason, qint64 line, qint64 column, qint64 offset,
                       const QString& sourceText, const QString& url);

// Writes the document of a process. Returns empty text, or why the document
// cannot be written (nothing usable was produced then).
QString Write(const clsProcess& process, QByteArray& out);

}  // namespace IntegrationFile
