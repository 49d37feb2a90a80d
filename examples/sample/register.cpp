// Adds the sample's named connections to the connection registry the
// designer loads, so that its step dialogs open them by name. Entries the
// registry already holds are left as they are, and a registry file that
// cannot be read is not touched.
//
//   meridox-sample-register <name> <connection string> [<name> <connection string> ...]

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include "connections/cConnections.h"

namespace {

// Answers the registry's new-connection path with one given entry.
class cGivenEntry : public IConnectionPrompts {
public:
    QString Name;
    QString ConnectionString;
    QString Message;

    std::optional<QString> PromptNew() override { return ConnectionString; }
    bool PromptEdit(QString&) override { return false; }
    std::optional<QString> InputBox(const QString&, const QString&, const QString&) override { return Name; }
    int MsgBox(const QString& Prompt, int, const QString&) override
    {
        Message = Prompt;
        return MsgBoxResult::vbOK;
    }
};

QString WithoutEndMark(QString Text)
{
    while (Text.endsWith(QLatin1Char(';')))
        Text.chop(1);
    return Text;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty() || args.size() % 2 != 0) {
        out << "usage: meridox-sample-register <name> <connection string> [...]\n";
        return 2;
    }

    cGivenEntry prompts;
    cConnections registry;
    registry.SetPrompts(&prompts);
    const QString path = cConnections::FilePath();
    if (QFile::exists(path)) {
        // Writing back what was only partly read would lose the rest.
        const QString failure = registry.LoadConnections();
        if (!failure.isEmpty() || !prompts.Message.isEmpty()) {
            out << "The connection registry " << path << " could not be read; the sample's connections were not added.\n";
            return 1;
        }
    }

    QStringList added;
    for (qsizetype i = 0; i < args.size(); i += 2) {
        const QString& name = args.at(i);
        const QString& connString = args.at(i + 1);
        if (const auto held = registry.ConnectionsList().Item(name)) {
            if (WithoutEndMark(held->connString) != WithoutEndMark(connString))
                out << "The connection registry keeps its own entry \"" << held->name << "\": " << held->connString
                    << "\n";
            continue;
        }
        prompts.Name = name;
        prompts.ConnectionString = connString;
        if (registry.CreateConnection())
            added << name;
    }
    if (added.isEmpty())
        return 0;
    const QString failure = registry.SaveConnections();
    if (!failure.isEmpty()) {
        out << "The connection registry " << path << " could not be written: " << failure << "\n";
        return 1;
    }
    out << "Connections added to " << path << ": \"" << added.join(QStringLiteral("\", \"")) << "\"\n";
    return 0;
}
