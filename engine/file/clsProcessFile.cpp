// Loading and saving the document of a process.

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <limits>
#include <sys/stat.h>

#include "data/ConnectionString.h"

#include "document/clsProcess.h"
#include "file/IntegrationFile.h"

QString clsProcess::LoadIntegration(const QString& Filename, IDocumentView* form) {
    m_form = form;
    AttachDocumentForm();

    QByteArray content;
    if (Filename.isEmpty()) {
        content = QByteArray(IntegrationFile::EmptyIntegration);
    } else {
        QFile file(Filename);
        if (!file.open(QIODevice::ReadOnly))
            return IntegrationFile::ParseErrorText(file.error(), file.errorString(), 0, 0, 0, QString(), Filename);
        content = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return IntegrationFile::ParseErrorText(file.error(), file.errorString(), 0, 0, 0, QString(), Filename);
    }

    QString error;
    const std::optional<IntegrationFile::FileDocument> doc = IntegrationFile::Parse(content, Filename, error);
    if (!doc)
        return error;

    // Everything that could refuse the document is checked before the first
    // node is added, so a refused file changes nothing.
    const qint64 nodeRoom = std::numeric_limits<std::int16_t>::max() - m_shapes->NodeCounter();
    qint64 links = 0;
    for (const auto& node : doc->nodes)
        links += qint64(node.next.size());
    if (qint64(doc->nodes.size()) > nodeRoom || links > std::numeric_limits<std::int16_t>::max() - m_lines->LinkCounter())
        return IntegrationFile::ParseErrorText(0, QStringLiteral("The integration holds more nodes or links than a document can number."),
                                               0, 0, 0, QString(), Filename);

    // File positions become the numbers of the nodes created now, which
    // differ from the positions when the document already held nodes.
    std::vector<std::int16_t> numbers;
    numbers.reserve(doc->nodes.size());
    for (const auto& node : doc->nodes) {
        const cShapeRef added = m_shapes->AddShape(node.kind, node.x, node.y, node.caption);
        numbers.push_back(added->Index);
        if (node.kind == aData || node.kind == aStorage || node.kind == aDecission)
            m_shapes->AddElementsToNode(added->Key, node.elements);
    }
    for (std::size_t i = 0; i < doc->nodes.size(); ++i) {
        for (const auto& link : doc->nodes[i].next) {
            // A stray link (to "0", to no position, or to nothing) is refused
            // like any other link that cannot be made, and loading goes on.
            if (link.target < 1 || std::size_t(link.target) > numbers.size()) {
                m_lines->addLine(QString::number(numbers[i]), QStringLiteral("0"), link.caption);
                m_log->AddLog(QStringLiteral("Link from node %1 of %2 was not loaded: its target '%3' names no node.")
                                  .arg(i + 1)
                                  .arg(Filename, link.targetText));
                continue;
            }
            const QString from = QString::number(numbers[i]);
            const QString to = QString::number(numbers[std::size_t(link.target - 1)]);
            if (!m_lines->addLine(from, to, link.caption))
                m_log->AddLog(QStringLiteral("Link from node %1 to node %2 of %3 was not loaded.")
                                  .arg(i + 1)
                                  .arg(link.target)
                                  .arg(Filename));
        }
    }
    // A refused formula keeps the one already there; the log says why.
    QString refusal;
    const QMetaObject::Connection watch =
        connect(m_formulas.get(), &cFormulas::Error, this, [&refusal](const QString& sError) { refusal = sError; });
    for (const tFormula& formula : doc->formulas) {
        refusal.clear();
        if (!m_formulas->AddFormula(formula.name, formula.formula))
            m_log->AddLog(QStringLiteral("Formula '%1' of %2 was not loaded: %3").arg(formula.name, Filename, refusal));
    }
    disconnect(watch);
    m_filename = Filename;
    return QString();
}

QString clsProcess::SaveIntegration(const QString& Filename) {
    const QString target = Filename.isEmpty() ? m_filename : Filename;
    const auto failure = [&](const QString& reason) {
        const QString text = QStringLiteral("The integration could not be saved to '%1': %2").arg(target, reason);
        m_log->AddLog(text);
        return text;
    };
    if (target.isEmpty())
        return failure(QStringLiteral("no file name was given."));

    QByteArray content;
    const QString error = IntegrationFile::Write(*this, content);
    if (!error.isEmpty())
        return failure(error);

    // Written beside the old file and renamed over it, so a failed save
    // leaves the old file whole.
    const bool existed = QFileInfo::exists(target);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString());
    // A connection string copied from the registry carries its password:
    // a new file holding one is for its owner's eyes only, as the registry
    // is. An existing file keeps the rights its owner gave it.
    if (!existed && ado::hideSecretsInText(QString::fromUtf8(content)) != QString::fromUtf8(content)
        && ::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        const QString reason = qt_error_string(errno);
        file.cancelWriting();
        return failure(reason);
    }
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failure(reason);
    }
    if (!file.commit())
        return failure(file.errorString());
    m_filename = target;
    return QString();
}
