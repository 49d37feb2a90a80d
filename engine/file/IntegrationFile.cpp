#include "file/IntegrationFile.h"

#include <QBuffer>
#include <QLocale>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <cmath>
#include <limits>

#include "data/ConnectionString.h"
#include "document/cShapes.h"
#include "document/clsProcess.h"

namespace IntegrationFile {

const char* const EmptyIntegration = R"(<?xml version="1.0"?>
<meridox xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="meridox.xsd">
  <nodes>
    <node type="start" x="660" y="500" caption="START">
      <next caption="">4</next>
    </node>
    <node type="storage" x="4800" y="500" caption="TARGET">
      <storageconn>
        <connname></connname>
        <connstring></connstring>
        <operation>UpdateInsert</operation>
      </storageconn>
      <storagetarget type="table"></storagetarget>
      <next caption="">3</next>
      <previous caption="">4</previous>
    </node>
    <node type="stop" x="7140" y="500" caption="END">
      <previous caption="">2</previous>
    </node>
    <node type="data" x="2550" y="500" caption="SOURCE">
      <dataconn>
        <connname></connname>
        <connstring></connstring>
      </dataconn>
      <datasource type="sql"></datasource>
      <previous caption="">1</previous>
      <next caption="">2</next>
    </node>
  </nodes>
  <formulas/>
</meridox>
)";

namespace {

const std::array<const char*, 11> TypeWords = {
    "", "start", "process", "decission", "storage", "data", "document", "processpredef", "window", "point", "stop"};

const QString CrLf = QStringLiteral("\r\n");

}  // namespace

QString ShapeTypeToWord(int kind) {
    if (kind >= aStart && kind <= aStop)
        return QString::fromLatin1(TypeWords[kind]);
    return QString();
}

std::int16_t WordToShapeType(const QString& word) {
    for (int kind = aStart; kind <= aStop; ++kind)
        if (word == QLatin1String(TypeWords[kind]))
            return static_cast<std::int16_t>(kind);
    return aNothing;
}

double Val(const QString& text) {
    // Val skips blanks anywhere and reads sign, digits, one point and an
    // exponent as far as they form a number.
    QString s;
    for (QChar ch : text)
        if (ch != QLatin1Char(' ') && ch != QLatin1Char('\t') && ch != QLatin1Char('\n') && ch != QLatin1Char('\r'))
            s += ch;
    int i = 0;
    const int n = s.size();
    QString number;
    if (i < n && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+')))
        number += s[i++];
    bool digits = false;
    while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
        number += s[i++];
        digits = true;
    }
    if (i < n && s[i] == QLatin1Char('.')) {
        number += s[i++];
        while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
            number += s[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    if (i < n && (s[i] == QLatin1Char('e') || s[i] == QLatin1Char('E') || s[i] == QLatin1Char('d') ||
                  s[i] == QLatin1Char('D'))) {
        QString exponent = QStringLiteral("e");
        int j = i + 1;
        if (j < n && (s[j] == QLatin1Char('-') || s[j] == QLatin1Char('+')))
            exponent += s[j++];
        bool expDigits = false;
        while (j < n && s[j].isDigit() && s[j].unicode() < 128) {
            exponent += s[j++];
            expDigits = true;
        }
        if (expDigits)
            number += exponent;
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString ParseErrorText(qint64 code, const QString& reason, qint64 line, qint64 column, qint64 offset,
                       const QString& sourceText, const QString& url) {
    QString why = reason;
    if (!why.endsWith(QLatin1Char('\n')))
        why += CrLf;
    // The source line may be a connection string: the text goes to logs
    // that others read, so no password is shown.
    return ado::hideSecretsInText(QStringLiteral("Your XML Document failed to load") + QStringLiteral("due the following error.") + CrLf +
           QStringLiteral("Error #: ") + QString::number(code) + QStringLiteral(": ") + why +
           QStringLiteral("Line #: ") + QString::number(line) + CrLf + QStringLiteral("Line Position: ") +
           QString::number(column) + CrLf + QStringLiteral("Position In File: ") + QString::number(offset) + CrLf +
           QStringLiteral("Source Text: ") + sourceText + CrLf + QStringLiteral("Document URL: ") + url);
}

// ---------------------------------------------------------------------------
// Reading

namespace {

QString describeCodePoint(char32_t cp) {
    return QStringLiteral("U+") + QStringLiteral("%1").arg(quint32(cp), 4, 16, QLatin1Char('0')).toUpper();
}

// The first character XML 1.0 cannot carry, if any.
std::optional<char32_t> firstUnwritable(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
                ++i;
                continue;
            }
            return u;
        }
        if (QChar::isLowSurrogate(u))
            return u;
        const bool ok = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xFFFD);
        if (!ok)
            return u;
    }
    return std::nullopt;
}

class Reader {
public:
    Reader(const QByteArray& content, const QString& url) : m_content(content), m_url(url), m_xml(content) {
        // Names are compared as written (prefix included), like the file's
        // own layout; nothing is resolved from outside the file.
        m_xml.setNamespaceProcessing(false);
    }

    std::optional<FileDocument> read(QString& error) {
        readDocument();
        // Read to the end so that a damaged tail is reported too.
        while (!failed() && !m_xml.atEnd())
            m_xml.readNext();
        if (m_xml.hasError() || m_failed) {
            error = errorText();
            return std::nullopt;
        }
        return std::move(m_doc);
    }

private:
    void fail(const QString& reason) {
        if (m_failed || m_xml.hasError())
            return;
        m_failed = true;
        m_reason = reason;
        m_line = m_xml.lineNumber();
        m_column = m_xml.columnNumber();
        m_offset = m_xml.characterOffset();
    }
    bool failed() const { return m_failed || m_xml.hasError(); }

    QString sourceLine(qint64 line) const {
        if (line < 1)
            return QString();
        const QList<QByteArray> lines = m_content.split('\n');
        if (line > lines.size())
            return QString();
        QString text = QString::fromUtf8(lines[line - 1]);
        if (text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        return text;
    }

    QString errorText() const {
        if (!m_failed)
            return ParseErrorText(m_xml.error(), m_xml.errorString(), m_xml.lineNumber(), m_xml.columnNumber(),
                                  m_xml.characterOffset(), sourceLine(m_xml.lineNumber()), m_url);
        return ParseErrorText(QXmlStreamReader::CustomError, m_reason, m_line, m_column, m_offset,
                              sourceLine(m_line), m_url);
    }

    void readDocument() {
        while (!m_xml.atEnd()) {
            m_xml.readNext();
            if (m_xml.tokenType() == QXmlStreamReader::DTD) {
                fail(QStringLiteral("A document type declaration is not allowed in an integration file."));
                return;
            }
            if (m_xml.isStartElement())
                break;
        }
        if (failed())
            return;
        if (!m_xml.isStartElement()) {
            fail(QStringLiteral("The file holds no root element."));
            return;
        }
        if (m_xml.qualifiedName() != QLatin1String("meridox")) {
            fail(QStringLiteral("The root element is '%1'; an integration file has 'meridox'.")
                     .arg(m_xml.qualifiedName().toString()));
            return;
        }
        while (!failed() && m_xml.readNextStartElement()) {
            const auto name = m_xml.qualifiedName();
            if (name == QLatin1String("nodes"))
                readNodes();
            else if (name == QLatin1String("formula"))
                readFormulas();
            else
                m_xml.skipCurrentElement();
        }
    }

    // Text content of the current element (child elements' text included);
    // text made of blanks only counts as empty, as between elements.
    QString elementText() {
        const QString text = checked(m_xml.readElementText(QXmlStreamReader::IncludeChildElements));
        return text.trimmed().isEmpty() ? QString() : text;
    }

    std::optional<QString> attribute(const char* name) {
        const QXmlStreamAttributes attrs = m_xml.attributes();
        for (const QXmlStreamAttribute& a : attrs)
            if (a.qualifiedName() == QLatin1String(name))
                return checked(a.value().toString());
        return std::nullopt;
    }

    // The writer's character rule, applied when reading: a document that
    // could never be saved again is refused here, with the reason.
    QString checked(QString text) {
        if (const auto bad = firstUnwritable(text))
            fail(QStringLiteral("The file holds a character that an integration file cannot hold (%1).")
                     .arg(describeCodePoint(*bad)));
        return text;
    }

    QString requiredAttribute(const char* name) {
        const auto value = attribute(name);
        if (!value)
            fail(QStringLiteral("The element '%1' lacks its attribute '%2'.")
                     .arg(m_xml.qualifiedName().toString(), QLatin1String(name)));
        return value.value_or(QString());
    }

    // A whole number as Visual Basic's CInt/CLng convert a text: a
    // numeric text rounded half to even, within the given range.
    std::optional<qint64> wholeNumber(const QString& text, qint64 low, qint64 high, const char* what) {
        bool ok = false;
        const double value = QLocale::c().toDouble(text.trimmed(), &ok);
        if (!ok || !std::isfinite(value)) {
            fail(QStringLiteral("The field %1 '%2' is not a number.").arg(QLatin1String(what), text));
            return std::nullopt;
        }
        const double rounded = std::nearbyint(value);
        if (rounded < double(low) || rounded > double(high)) {
            fail(QStringLiteral("The field %1 '%2' is out of range.").arg(QLatin1String(what), text));
            return std::nullopt;
        }
        return static_cast<qint64>(rounded);
    }

    // A node position as the document keeps it; a number beyond what a
    // float holds would leave the node nowhere, so it counts as 0, and one
    // beyond the drawing range is brought to its edge.
    static float position(double value) {
        if (!(std::fabs(value) <= double(std::numeric_limits<float>::max())))
            return 0.0F;
        return static_cast<float>(std::clamp(value, -double(MaxNodePosition), double(MaxNodePosition)));
    }

    void readNodes() {
        while (!failed() && m_xml.readNextStartElement()) {
            // Every child of nodes is a node, whatever its name.
            FileNode node;
            const QString type = requiredAttribute("type");
            const QString x = requiredAttribute("x");
            const QString y = requiredAttribute("y");
            const QString caption = requiredAttribute("caption");
            if (failed())
                return;
            node.kind = WordToShapeType(type);
            node.x = position(Val(x));
            node.y = position(Val(y));
            node.caption = caption;
            node.elements = EmptyElementsFor(node.kind);
            readNodeChildren(node);
            if (failed())
                return;
            m_doc.nodes.push_back(std::move(node));
        }
    }

    void readNodeChildren(FileNode& node) {
        while (!failed() && m_xml.readNextStartElement()) {
            const QString name = m_xml.qualifiedName().toString();
            if (name == QLatin1String("next")) {
                readNext(node);
                continue;
            }
            if (auto* data = std::get_if<tData>(&node.elements); data && node.kind == aData) {
                if (readData(*data, name))
                    continue;
            } else if (auto* storage = std::get_if<tStorage>(&node.elements); storage && node.kind == aStorage) {
                if (readStorage(*storage, name))
                    continue;
            } else if (auto* decision = std::get_if<tDecission>(&node.elements);
                       decision && node.kind == aDecission && name == QLatin1String("condition")) {
                decision->condition = elementText();
                continue;
            }
            // `previous` repeats what the `next` elements say; others are unknown.
            m_xml.skipCurrentElement();
        }
    }

    void readNext(FileNode& node) {
        const QString caption = attribute("caption").value_or(QString());
        const QString text = elementText();
        if (failed())
            return;
        // An empty target names no node, like "0": the link is left out
        // when the document is built, and loading goes on.
        bool ok = text.trimmed().isEmpty();
        const int target = ok ? 0 : text.trimmed().toInt(&ok);
        if (!ok) {
            fail(QStringLiteral("The link target '%1' is not a node position.").arg(text));
            return;
        }
        node.next.push_back(FileLink{target, caption, text.trimmed()});
    }

    bool readData(tData& data, const QString& name) {
        if (name == QLatin1String("dataconn")) {
            while (!failed() && m_xml.readNextStartElement()) {
                const auto child = m_xml.qualifiedName();
                if (child == QLatin1String("connname"))
                    data.connName = elementText();
                else if (child == QLatin1String("connstring"))
                    data.connString = elementText();
                else
                    m_xml.skipCurrentElement();
            }
            return true;
        }
        if (name == QLatin1String("datasource")) {
            data.sourcetype = attribute("type").value_or(QString());
            data.Source = elementText();
            return true;
        }
        if (name == QLatin1String("datafields")) {
            data.fields = std::make_shared<tFieldsList>();
            while (!failed() && m_xml.readNextStartElement()) {
                const auto field = readField(false);
                if (field)
                    data.fields->Add(*field);
            }
            return true;
        }
        return false;
    }

    bool readStorage(tStorage& storage, const QString& name) {
        if (name == QLatin1String("storageconn")) {
            while (!failed() && m_xml.readNextStartElement()) {
                const auto child = m_xml.qualifiedName();
                if (child == QLatin1String("connname"))
                    storage.connName = elementText();
                else if (child == QLatin1String("connstring"))
                    storage.connString = elementText();
                else if (child == QLatin1String("operation"))
                    storage.shpOperation = elementText();
                else
                    m_xml.skipCurrentElement();
            }
            return true;
        }
        if (name == QLatin1String("storagetarget")) {
            storage.targettype = attribute("type").value_or(QString());
            storage.target = elementText();
            return true;
        }
        if (name == QLatin1String("storagefields")) {
            storage.fields = std::make_shared<tFieldsList>();
            while (!failed() && m_xml.readNextStartElement()) {
                const auto field = readField(true);
                if (!field)
                    return true;
                if (!storage.fields->Add(*field, field->f_name)) {
                    fail(QStringLiteral("The storage step names the field '%1' twice.").arg(field->f_name));
                    return true;
                }
            }
            return true;
        }
        return false;
    }

    std::optional<tFields> readField(bool withMappings) {
        tFields field;
        field.f_name = requiredAttribute("name");
        const QString type = requiredAttribute("type");
        const QString size = requiredAttribute("size");
        if (failed())
            return std::nullopt;
        const auto t = wholeNumber(type, std::numeric_limits<std::int16_t>::min(),
                                   std::numeric_limits<std::int16_t>::max(), "type");
        const auto s = wholeNumber(size, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max(), "size");
        if (!t || !s)
            return std::nullopt;
        field.f_type = static_cast<std::int16_t>(*t);
        field.f_size = static_cast<std::int32_t>(*s);
        while (!failed() && m_xml.readNextStartElement()) {
            const auto child = m_xml.qualifiedName();
            if (withMappings && child == QLatin1String("f_value"))
                field.f_value = elementText();
            else if (withMappings && child == QLatin1String("f_lookup"))
                field.f_lookup = elementText();
            else
                m_xml.skipCurrentElement();
        }
        if (failed())
            return std::nullopt;
        return field;
    }

    void readFormulas() {
        while (!failed() && m_xml.readNextStartElement()) {
            tFormula formula;
            formula.name = attribute("name").value_or(QString());
            // A script keeps its blanks and line breaks as written.
            formula.formula = checked(m_xml.readElementText(QXmlStreamReader::IncludeChildElements));
            m_doc.formulas.push_back(std::move(formula));
        }
    }


    const QByteArray& m_content;
    QString m_url;
    QXmlStreamReader m_xml;
    FileDocument m_doc;
    bool m_failed = false;
    QString m_reason;
    qint64 m_line = 0;
    qint64 m_column = 0;
    qint64 m_offset = 0;
};

}  // namespace

std::optional<FileDocument> Parse(const QByteArray& content, const QString& url, QString& error) {
    Reader reader(content, url);
    return reader.read(error);
}

// ---------------------------------------------------------------------------
// Writing

namespace {

QString number(float value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15F)
        return QString::number(static_cast<qint64>(value));
    // The shortest text that reads back as the same float: a fixed number of
    // digits would round positions such as 1234567.5.
    char text[32];
    const auto end = std::to_chars(std::begin(text), std::end(text), value);
    return QString::fromLatin1(text, end.ptr - text);
}

class Writer {
public:
    explicit Writer(QByteArray& out) : m_buffer(&out) {
        m_buffer.open(QIODevice::WriteOnly);
        m_xml.setDevice(&m_buffer);
        m_xml.setAutoFormatting(true);
        m_xml.setAutoFormattingIndent(2);
    }

    QString write(const clsProcess& process) {
        const cShapes& shapes = *process.Shapes();
        const cLines& lines = *process.Lines();
        m_xml.writeStartDocument();
        m_xml.writeStartElement(QStringLiteral("meridox"));
        m_xml.writeAttribute(QStringLiteral("xmlns:xsi"), QStringLiteral("http://www.w3.org/2001/XMLSchema-instance"));
        m_xml.writeAttribute(QStringLiteral("xsi:noNamespaceSchemaLocation"), QStringLiteral("meridox.xsd"));

        m_xml.writeStartElement(QStringLiteral("nodes"));
        for (const cShapeRef& node : shapes.Collection()) {
            m_where = QStringLiteral("node %1 (%2)").arg(node->Index).arg(node->sCaption);
            m_xml.writeStartElement(QStringLiteral("node"));
            attribute("type", ShapeTypeToWord(node->objType));
            attribute("x", number(node->Left));
            attribute("y", number(node->Top));
            attribute("caption", node->sCaption);
            if (const tData* data = node->dataRecord(); data && node->objType == aData)
                writeData(*data);
            else if (const tStorage* storage = node->storageRecord(); storage && node->objType == aStorage)
                writeStorage(*storage);
            else if (const tDecission* decision = node->decisionRecord(); decision && node->objType == aDecission)
                textElement("condition", decision->condition);
            for (const cLineRef& link : lines.Collection()) {
                const bool leaves = link->sFrom.toInt() == node->Index;
                const bool enters = link->sTo.toInt() == node->Index;
                if (leaves)
                    linkElement("next", *link, link->sTo, shapes);
                if (enters)
                    linkElement("previous", *link, link->sFrom, shapes);
            }
            m_xml.writeEndElement();
            if (!m_error.isEmpty())
                return m_error;
        }
        m_xml.writeEndElement();

        m_where = QStringLiteral("the formulas");
        m_xml.writeStartElement(QStringLiteral("formula"));
        for (const tFormula& formula : process.Formulas()->Collection()) {
            m_where = QStringLiteral("formula %1").arg(formula.name);
            m_xml.writeStartElement(QStringLiteral("formula"));
            attribute("name", formula.name);
            text(formula.formula);
            m_xml.writeEndElement();
        }
        m_xml.writeEndElement();
        m_xml.writeEndElement();
        m_xml.writeEndDocument();
        if (m_error.isEmpty() && m_xml.hasError())
            m_error = QStringLiteral("The integration could not be written as XML.");
        return m_error;
    }

private:
    bool check(const QString& value) {
        if (!m_error.isEmpty())
            return false;
        if (const auto bad = firstUnwritable(value)) {
            m_error = QStringLiteral("The text of %1 holds a character that an integration file cannot hold (%2).")
                          .arg(m_where, describeCodePoint(*bad));
            return false;
        }
        return true;
    }

    void attribute(const char* name, const QString& value) {
        if (check(value))
            m_xml.writeAttribute(QLatin1String(name), value);
    }

    // Character content; carriage returns go out as references, since a
    // parser turns a literal CR LF into a bare line feed.
    void text(const QString& value) {
        if (!check(value))
            return;
        const QStringList parts = value.split(QLatin1Char('\r'));
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (i > 0)
                m_xml.writeEntityReference(QStringLiteral("#13"));
            if (!parts[i].isEmpty())
                m_xml.writeCharacters(parts[i]);
        }
    }

    void textElement(const char* name, const QString& value) {
        m_xml.writeStartElement(QLatin1String(name));
        text(value);
        m_xml.writeEndElement();
    }

    void writeFields(const tFieldsRef& fields, bool withMappings) {
        if (!fields)
            return;
        for (const tFields& field : *fields) {
            m_xml.writeStartElement(QStringLiteral("field"));
            attribute("name", field.f_name);
            attribute("type", QString::number(field.f_type));
            attribute("size", QString::number(field.f_size));
            if (withMappings) {
                textElement("f_value", field.f_value);
                textElement("f_lookup", field.f_lookup);
            }
            m_xml.writeEndElement();
        }
    }

    void writeData(const tData& data) {
        m_xml.writeStartElement(QStringLiteral("dataconn"));
        textElement("connname", data.connName);
        textElement("connstring", data.connString);
        m_xml.writeEndElement();
        m_xml.writeStartElement(QStringLiteral("datasource"));
        attribute("type", data.sourcetype);
        text(data.Source);
        m_xml.writeEndElement();
        m_xml.writeStartElement(QStringLiteral("datafields"));
        writeFields(data.fields, false);
        m_xml.writeEndElement();
    }

    void writeStorage(const tStorage& storage) {
        m_xml.writeStartElement(QStringLiteral("storageconn"));
        textElement("connname", storage.connName);
        textElement("connstring", storage.connString);
        textElement("operation", storage.shpOperation);
        m_xml.writeEndElement();
        m_xml.writeStartElement(QStringLiteral("storagetarget"));
        attribute("type", storage.targettype);
        text(storage.target);
        m_xml.writeEndElement();
        m_xml.writeStartElement(QStringLiteral("storagefields"));
        writeFields(storage.fields, true);
        m_xml.writeEndElement();
    }

    void linkElement(const char* name, const cLine& link, const QString& otherEnd, const cShapes& shapes) {
        const int position = shapes.getPosByKey(QStringLiteral("k") + QString::number(otherEnd.toInt()));
        if (position == 0 && m_error.isEmpty()) {
            // A file with such a link could not be read back.
            m_error = QStringLiteral("A link of %1 ends at '%2', which names no node.").arg(m_where, otherEnd);
            return;
        }
        m_xml.writeStartElement(QLatin1String(name));
        attribute("caption", link.sCaption);
        m_xml.writeCharacters(QString::number(position));
        m_xml.writeEndElement();
    }

    QBuffer m_buffer;
    QXmlStreamWriter m_xml;
    QString m_where;
    QString m_error;
};

}  // namespace

QString Write(const clsProcess& process, QByteArray& out) {
    out.clear();
    Writer writer(out);
    return writer.write(process);
}

}  // namespace IntegrationFile
