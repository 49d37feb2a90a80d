#include "connections/cConnections.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "stores/basUtils.h"

namespace {

const QString kAmbient = QStringLiteral("cConnections");
const QString kFileName = QStringLiteral("connections.cnn");
const QString kCrLf = QStringLiteral("\r\n");

QString Tr(const QString& Text) { return Translate(Text, kAmbient); }

// The text of line Line (1-based) of Data, for the parse-error message.
QString SourceLine(const QByteArray& Data, qint64 Line)
{
    if (Line < 1)
        return QString();
    const QList<QByteArray> lines = Data.split('\n');
    if (Line > lines.size())
        return QString();
    QString text = QString::fromUtf8(lines.at(Line - 1));
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

struct LoadFailure {
    qint64 code = 0;
    QString reason;
    qint64 line = 0;
    qint64 column = 0;
    qint64 position = 0;
    QString source;
};

QString LoadFailureText(const LoadFailure& F, const QString& Url)
{
    // The joins are the ones users and support scripts know, "load" + "due"
    // without a blank included.
    QString reason = F.reason;
    if (!reason.endsWith(QLatin1Char('\n')))
        reason += kCrLf;
    return QStringLiteral("Your XML Document failed to load") + QStringLiteral("due the following error.") + kCrLf +
           QStringLiteral("Error #: ") + QString::number(F.code) + QStringLiteral(": ") + reason +
           QStringLiteral("Line #: ") + QString::number(F.line) + kCrLf + QStringLiteral("Line Position: ") +
           QString::number(F.column) + kCrLf + QStringLiteral("Position In File: ") + QString::number(F.position) +
           kCrLf + QStringLiteral("Source Text: ") + F.source + kCrLf + QStringLiteral("Document URL: ") + Url;
}

// Reads one "connection" element (the reader stands on its start) by the
// local names of its children; a missing child leaves the field empty and a
// repeated child overrides the earlier one.
tConnection ReadEntry(QXmlStreamReader& Reader)
{
    tConnection entry;
    while (Reader.readNextStartElement()) {
        const QStringView local = Reader.name();
        if (local == QLatin1String("connname"))
            entry.name = Reader.readElementText(QXmlStreamReader::IncludeChildElements);
        else if (local == QLatin1String("connstring"))
            entry.connString = Reader.readElementText(QXmlStreamReader::IncludeChildElements);
        else
            Reader.skipCurrentElement();
    }
    return entry;
}

// Parses the whole file first so that a malformed file adds nothing.
std::optional<std::vector<tConnection>> ParseFile(const QByteArray& Data, LoadFailure& Failure)
{
    std::vector<tConnection> entries;
    QXmlStreamReader reader(Data);
    if (reader.readNextStartElement()) {
        // Any root is accepted; only its "connection" children are entries.
        while (reader.readNextStartElement()) {
            if (reader.name() == QLatin1String("connection"))
                entries.push_back(ReadEntry(reader));
            else
                reader.skipCurrentElement();
        }
        // Read to the end so that trailing garbage is noticed as well.
        while (!reader.atEnd() && !reader.hasError())
            reader.readNext();
    }
    if (reader.hasError()) {
        Failure.code = static_cast<qint64>(reader.error());
        Failure.reason = reader.errorString();
        Failure.line = reader.lineNumber();
        Failure.column = reader.columnNumber();
        Failure.position = reader.characterOffset();
        Failure.source = SourceLine(Data, Failure.line);
        return std::nullopt;
    }
    return entries;
}

}  // namespace

// ---------------------------------------------------------------------------
// cConnectionList

std::optional<tConnection> cConnectionList::Item(int Index) const
{
    if (Index < 1 || Index > Count())
        return std::nullopt;
    return m_items[static_cast<size_t>(Index - 1)];
}

std::optional<tConnection> cConnectionList::Item(const QString& Key) const
{
    const int index = IndexOf(Key);
    if (index == 0)
        return std::nullopt;
    return m_items[static_cast<size_t>(index - 1)];
}

int cConnectionList::IndexOf(const QString& Key) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].name.compare(Key, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i) + 1;
    return 0;
}

bool cConnectionList::Add(const tConnection& Item)
{
    if (Exists(Item.name))
        return false;
    m_items.push_back(Item);
    return true;
}

bool cConnectionList::Remove(const QString& Key)
{
    const int index = IndexOf(Key);
    if (index == 0)
        return false;
    m_items.erase(m_items.begin() + (index - 1));
    return true;
}

// ---------------------------------------------------------------------------
// cConnections

cConnections::cConnections() = default;
cConnections::~cConnections() = default;

QString cConnections::FilePath() { return QDir(LibraryFolder()).filePath(kFileName); }

QString cConnections::ShowMessage(const QString& Text, int Style)
{
    if (m_prompts)
        m_prompts->MsgBox(Text, Style, QString());
    return Text;
}

std::optional<ado::Connection> cConnections::Connection(const QString& Name)
{
    m_lastError.clear();
    const auto entry = m_list.Item(Name);
    if (!entry) {
        m_lastError = Tr("Invalid procedure call or argument");
        return std::nullopt;
    }
    ado::Connection connection;
    if (!connection.Open(entry->connString)) {
        m_lastError = connection.lastError().Description;
        return std::nullopt;
    }
    return connection;
}

std::optional<QString> cConnections::ConnectionString(const QString& Name)
{
    m_lastError.clear();
    const auto entry = m_list.Item(Name);
    if (!entry) {
        m_lastError = Tr("Invalid procedure call or argument");
        return std::nullopt;
    }
    return entry->connString;
}

bool cConnections::CreateConnection()
{
    m_lastError.clear();
    if (!m_prompts)
        return false;
    const std::optional<QString> built = m_prompts->PromptNew();
    if (!built)
        return false;  // cancelled: nothing is shown
    const std::optional<QString> name =
        m_prompts->InputBox(Tr("Enter a new connection name"), Tr("New Connection"), QString());
    if (!name || name->isEmpty())
        return false;
    if (m_list.Exists(*name)) {
        m_lastError = Tr("A connection with this name already exists.") + QLatin1Char(' ') + *name;
        ShowMessage(m_lastError, MsgBoxStyle::vbExclamation);
        return false;
    }
    QString connString = *built;
    if (!connString.endsWith(QLatin1Char(';')))
        connString += QLatin1Char(';');
    return m_list.Add(tConnection{*name, connString});
}

bool cConnections::ModifyConnection(const QString& Name)
{
    m_lastError.clear();
    const auto entry = m_list.Item(Name);
    if (!entry) {
        m_lastError = Tr("Invalid procedure call or argument");
        return false;
    }
    if (!m_prompts)
        return false;

    QString connString = entry->connString;
    if (!m_prompts->PromptEdit(connString))
        return false;  // cancelled: the entry stays as it was
    if (!connString.isEmpty() && !connString.endsWith(QLatin1Char(';')))
        connString += QLatin1Char(';');

    // An empty or cancelled answer keeps the name.
    const std::optional<QString> answer = m_prompts->InputBox(Tr("Connection Name"), QStringLiteral("Meridox"), entry->name);
    const QString newName = (answer && !answer->isEmpty()) ? *answer : entry->name;

    // Another entry with the new name: refuse before anything is removed, so
    // no entry is lost and names stay unique.
    const int holder = m_list.IndexOf(newName);
    if (holder != 0 && holder != m_list.IndexOf(entry->name)) {
        m_lastError = Tr("A connection with this name already exists.") + QLatin1Char(' ') + newName;
        ShowMessage(m_lastError, MsgBoxStyle::vbExclamation);
        return false;
    }

    // An edited entry moves to the end of the registry.
    m_list.Remove(entry->name);
    m_list.Add(tConnection{newName, connString});
    return true;
}

void cConnections::DeleteConnection(const QString& Connection) { m_list.Remove(Connection); }

QString cConnections::LoadConnections()
{
    const QString path = FilePath();
    const QString url = path;
    LoadFailure failure;
    QFile file(path);
    std::optional<std::vector<tConnection>> entries;
    if (!file.open(QIODevice::ReadOnly)) {
        failure.code = static_cast<qint64>(file.error());
        failure.reason = file.errorString();
    } else {
        const QByteArray data = file.readAll();
        file.close();
        entries = ParseFile(data, failure);
    }
    if (!entries)
        return ShowMessage(LoadFailureText(failure, url), MsgBoxStyle::vbExclamation);

    // A name held twice (by the file, or already by the registry) keeps its
    // first entry; the others still load and the repeats are reported.
    QStringList repeated;
    for (const tConnection& entry : *entries)
        if (!m_list.Add(entry))
            repeated << entry.name;
    if (repeated.isEmpty())
        return QString();
    return ShowMessage(Tr("These connection names are repeated in the connections file; only their first entry "
                          "was loaded:") +
                           kCrLf + repeated.join(kCrLf),
                       MsgBoxStyle::vbExclamation);
}

QString cConnections::SaveConnections()
{
    const QString path = FilePath();
    QByteArray data;
    {
        QXmlStreamWriter writer(&data);
        writer.setAutoFormatting(false);
        writer.writeStartDocument();
        writer.writeStartElement(QStringLiteral("connections"));
        writer.writeAttribute(QStringLiteral("lastconn"), QString());
        writer.writeAttribute(QStringLiteral("xmlns:xsi"), QStringLiteral("http://www.w3.org/2001/XMLSchema-instance"));
        writer.writeAttribute(QStringLiteral("xsi:noNamespaceSchemaLocation"), QStringLiteral("connections.xsd"));
        for (const tConnection& entry : m_list) {
            writer.writeStartElement(QStringLiteral("connection"));
            writer.writeTextElement(QStringLiteral("connname"), entry.name);
            writer.writeTextElement(QStringLiteral("connstring"), entry.connString);
            writer.writeEndElement();
        }
        writer.writeEndElement();
        writer.writeEndDocument();
    }
    // Nothing after the root either; the writer ends with a line break.
    while (data.endsWith('\n'))
        data.chop(1);

    // Written beside the old file and renamed over it, so a reader never sees
    // half a file; owner-only because the strings may hold passwords.
    QSaveFile file(path);
    const auto fail = [&](const QString& Reason) {
        return Tr("The connections file could not be saved:") + QLatin1Char(' ') + path + QStringLiteral(": ") + Reason;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return fail(file.errorString());
    if (file.write(data) != data.size())
        return fail(file.errorString());
    if (!file.commit())
        return fail(file.errorString());
    return QString();
}
