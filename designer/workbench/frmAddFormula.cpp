#include "workbench/frmAddFormula.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTextCursor>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/FormTranslation.h"
#include "app/UserDialogs.h"
#include "document/clsProcess.h"
#include "stores/basUtils.h"
#include "workbench/ModalDialogs.h"
#include "workbench/frmWorkBench.h"

namespace {

const QString Ambient = QStringLiteral("frmAddFormula");
const QString SqlExecuteKey = QStringLiteral("SqlExecute");
const QString SqlExecuteText = QStringLiteral("SQLExecute(Step,Query,Field)");
constexpr int KeyRole = Qt::UserRole;

QString Tr(const char* Text)
{
    return Translate(QString::fromUtf8(Text), Ambient);
}

QString KeyOf(const QTreeWidgetItem* Item)
{
    return Item ? Item->data(0, KeyRole).toString() : QString();
}

// Texts read back from an integration file carry bare LF line ends.
QString WithCrLf(const QString& Text)
{
    if (Text.contains(QLatin1String("\r\n")))
        return Text;
    QString text = Text;
    return text.replace(u'\n', QLatin1String("\r\n"));
}

}  // namespace

QString frmAddFormula::FormulaName;
QString frmAddFormula::FormulaText;

QString frmAddFormula::DefaultScript()
{
    return QStringLiteral("Function Main()\r\n Main = \"\"\r\nEnd Function");
}

frmAddFormula::frmAddFormula(QWidget* Parent)
    : QDialog(Parent)
{
    setObjectName(Ambient);
    setWindowTitle(QStringLiteral("Add Formula"));
    setModal(true);

    m_lblName = new QLabel(QStringLiteral("Name:"), this);
    m_lblName->setObjectName(QStringLiteral("lblName"));
    m_txtName = new QLineEdit(this);
    m_txtName->setObjectName(QStringLiteral("txtName"));

    m_vlmSplitter1 = new QSplitter(Qt::Horizontal, this);
    m_vlmSplitter1->setObjectName(QStringLiteral("vlmSplitter1"));
    m_trvObjects = new QTreeWidget(m_vlmSplitter1);
    m_trvObjects->setObjectName(QStringLiteral("trvObjects"));
    m_trvObjects->setHeaderHidden(true);
    m_trvObjects->setSelectionMode(QAbstractItemView::SingleSelection);
    // A double click inserts; it must not also open or close the step.
    m_trvObjects->setExpandsOnDoubleClick(false);
    m_txtFormula = new QPlainTextEdit(m_vlmSplitter1);
    m_txtFormula->setObjectName(QStringLiteral("txtFormula"));
    m_txtFormula->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_vlmSplitter1->addWidget(m_trvObjects);
    m_vlmSplitter1->addWidget(m_txtFormula);
    m_vlmSplitter1->setStretchFactor(0, 0);
    m_vlmSplitter1->setStretchFactor(1, 1);

    m_picButtons = new QWidget(this);
    m_picButtons->setObjectName(QStringLiteral("picButtons"));
    m_btnOK = new QPushButton(QStringLiteral("OK"), m_picButtons);
    m_btnOK->setObjectName(QStringLiteral("btnOK"));
    m_btnCancel = new QPushButton(QStringLiteral("CANCEL"), m_picButtons);
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_btnOK->setAutoDefault(false);
    m_btnCancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout(m_picButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnCancel);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(m_lblName);
    nameRow->addWidget(m_txtName, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(m_vlmSplitter1, 1);
    layout->addWidget(m_picButtons);
    resize(700, 440);

    connect(m_trvObjects, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* Item) {
        m_trvObjects->setCurrentItem(Item);
        trvObjects_DblClick();
    });
    connect(m_btnOK, &QPushButton::clicked, this, [this] { btnOK_Click(); });
    connect(m_btnCancel, &QPushButton::clicked, this, [this] { btnCancel_Click(); });

    TranslateForm(this, Ambient);
    // After the form's font: the script reads best in a fixed-width font.
    m_txtFormula->setFont(mono);
    // The tree shows its first entry, the longest, whole.
    const int treeWidth = std::max(200, m_trvObjects->fontMetrics().horizontalAdvance(SqlExecuteText) +
                                            m_trvObjects->indentation() + 32);
    m_vlmSplitter1->setSizes({treeWidth, std::max(300, width() - treeWidth)});
}

frmAddFormula::~frmAddFormula() = default;

bool frmAddFormula::ShowFormula(frmWorkBench& frm, int Mode)
{
    frmAddFormula dialog(&frm);
    return dialog.ShowView(frm, Mode);
}

QString frmAddFormula::KeepLineNumberTogether(const QString& CheckError)
{
    // The box wraps long texts at blanks: "On Line" and its number are
    // joined by no-break spaces so that they stay on one line.
    const QString onLine = Translate(QStringLiteral(" - On Line "), QStringLiteral("clsProcess"));
    const qsizetype at = CheckError.lastIndexOf(onLine);
    if (onLine.trimmed().isEmpty() || at < 0)
        return CheckError;
    const qsizetype words = onLine.indexOf(onLine.trimmed().section(QLatin1Char(' '), 1));
    QString joined = onLine;
    for (qsizetype i = std::max<qsizetype>(words, 0); i < joined.size(); ++i)
        if (joined.at(i) == QLatin1Char(' '))
            joined[i] = QChar(0x00A0);
    return CheckError.left(at) + joined + CheckError.mid(at + onLine.size());
}

bool frmAddFormula::EditCondition(frmWorkBench* frm, QString& Condition)
{
    frmAddFormula dialog(frm);
    dialog.m_frm = frm;
    dialog.m_conditionMode = true;
    dialog.m_condition = &Condition;
    dialog.m_lblName->hide();
    dialog.m_txtName->hide();
    dialog.FillTree();
    dialog.setFormulaBoxText(WithCrLf(Condition));
    RunModalDialog(dialog);
    return dialog.m_saved;
}

bool frmAddFormula::ShowView(frmWorkBench& frm, int Mode)
{
    LoadView(frm, Mode);
    RunModalDialog(*this);
    return m_saved;
}

void frmAddFormula::LoadView(frmWorkBench& frm, int Mode)
{
    m_frm = &frm;
    m_conditionMode = false;
    m_condition = nullptr;
    FillTree();
    setFormulaBoxText(WithCrLf(FormulaText));
    if (FormulaBoxText().isEmpty())
        setFormulaBoxText(DefaultScript());
    m_txtName->setText(FormulaName);
    m_editedName = FormulaName;
    m_mode = static_cast<std::int16_t>(Mode);
    m_saved = false;
}

QString frmAddFormula::FormulaBoxText() const
{
    return m_txtFormula->toPlainText().replace(u'\n', QLatin1String("\r\n"));
}

void frmAddFormula::setFormulaBoxText(const QString& Text)
{
    QString text = Text;
    m_txtFormula->setPlainText(text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
}

QString frmAddFormula::FullPath(const QTreeWidgetItem* Item)
{
    QStringList parts;
    for (; Item; Item = Item->parent())
        parts.prepend(Item->text(0));
    return parts.join(u'!');
}

void frmAddFormula::FillTree()
{
    m_trvObjects->clear();
    auto* root = new QTreeWidgetItem(m_trvObjects, QStringList{SqlExecuteText});
    root->setData(0, KeyRole, SqlExecuteKey);
    if (!m_frm)
        return;
    const cShapes* shapes = m_frm->Process()->Shapes();
    for (const cShapeRef& node : shapes->Collection())
        if (node && (node->objType == aStorage || node->objType == aData))
            AddFields(*node);
}

void frmAddFormula::AddFields(const cShape& Node)
{
    for (int i = m_trvObjects->topLevelItemCount() - 1; i >= 0; --i)
        if (KeyOf(m_trvObjects->topLevelItem(i)).compare(Node.Key, Qt::CaseInsensitive) == 0)
            delete m_trvObjects->takeTopLevelItem(i);

    auto* root = new QTreeWidgetItem(m_trvObjects, QStringList{Node.sCaption});
    root->setData(0, KeyRole, Node.Key);

    tFieldsRef fields;
    if (const tData* data = Node.dataRecord())
        fields = data->fields;
    else if (const tStorage* storage = Node.storageRecord())
        fields = storage->fields;
    if (!fields)
        return;
    // The step's children are listed sorted by name, as the tree sorts them.
    QStringList names;
    for (const tFields& field : *fields)
        names << field.f_name;
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& name : names)
        new QTreeWidgetItem(root, QStringList{name});
}

void frmAddFormula::trvObjects_DblClick()
{
    const QTreeWidgetItem* node = m_trvObjects->currentItem();
    if (!node || !node->isSelected())
        return;
    const QTextCursor cursor = m_txtFormula->textCursor();
    const int start = cursor.selectionStart();
    const int length = cursor.selectionEnd() - start;
    const QString text = m_txtFormula->toPlainText();
    const QString path = FullPath(node);
    const qsizetype bang = path.indexOf(u'!');

    QString inserted;
    if (bang < 0 || path.startsWith(QLatin1String("FORMULA")))
        inserted = QLatin1Char(' ') + path + QLatin1Char(' ');
    else  // A field: the field-reference form Step("Field").
        inserted = QLatin1Char(' ') + path.left(bang) + QLatin1String("(\"") + path.mid(bang + 1) +
                   QLatin1String("\") ");

    const QString result = text.left(start) + inserted + text.mid(start + length);
    m_txtFormula->setPlainText(result);
    // The caret follows the inserted text, so the next insertion goes after it.
    QTextCursor caret = m_txtFormula->textCursor();
    caret.setPosition(static_cast<int>(start + inserted.size()));
    m_txtFormula->setTextCursor(caret);
}

void frmAddFormula::btnOK_Click()
{
    if (m_conditionMode) {
        SaveCondition();
        return;
    }
    if (!m_frm)
        return;
    const QString name = m_txtName->text();
    if (name.isEmpty()) {
        Dialogs().MsgBox(this, Tr("Need a name to save the formula"), MsgBoxStyle::vbCritical);
        return;
    }
    const QString text = FormulaBoxText();
    clsProcess* process = m_frm->Process();
    const QString error = process->CheckFormula(text);
    if (!error.isEmpty()) {
        Dialogs().MsgBox(this, Tr("Error In formula ") + QLatin1Char('\n') + KeepLineNumberTogether(error),
                         MsgBoxStyle::vbOKOnly);
        return;
    }

    cFormulas* formulas = process->Formulas();
    if (formulas->AddFormula(name, text)) {
        m_saved = true;
        const QString key = QStringLiteral("FK") + name;
        // A tree without its formula root is rebuilt whole, new formula included.
        if (!m_frm->AddTreeNode(QStringLiteral("FORMULA"), key, name))
            m_frm->ShowFormulas();
        m_frm->SelectTreeNode(key);
        m_txtFormula->clear();
        m_txtName->clear();
        accept();
        return;
    }

    // A formula of that name (in any letter case) is already there. Only
    // the formula being edited may be replaced; another one of that name
    // would be lost without a word.
    m_saved = false;
    if (m_mode != 1 || name.compare(m_editedName, Qt::CaseInsensitive) != 0) {
        Dialogs().MsgBox(this, Tr("A formula with this name already exist, please try another name."),
                         MsgBoxStyle::vbCritical);
        return;
    }
    // Editing: the formula is replaced and moves to the end; its tree node
    // stays (renamed when only the letter case of its name changed).
    formulas->Collection().Remove(name);
    formulas->AddFormula(name, text);
    m_saved = true;
    if (name != m_editedName) {
        m_frm->RemoveTreeNode(QStringLiteral("FK") + m_editedName);
        if (!m_frm->AddTreeNode(QStringLiteral("FORMULA"), QStringLiteral("FK") + name, name))
            m_frm->ShowFormulas();
    }
    accept();
}

void frmAddFormula::SaveCondition()
{
    if (m_condition)
        *m_condition = FormulaBoxText();
    m_saved = true;
    accept();
}

void frmAddFormula::btnCancel_Click()
{
    reject();
}

void frmAddFormula::done(int Result)
{
    m_closed = true;
    QDialog::done(Result);
}
