#include "admin/cHistoryScreen.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QRegularExpression>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/FormTranslation.h"
#include "app/UserDialogs.h"
#include "stores/basUtils.h"
#include "stores/cStoreReader.h"

using namespace AdminScreens;

namespace {
// The headers of both screens are translated under the execution log's name.
const QString kHeaderAmbient = QStringLiteral("frmExecutionLog");

// About four hundred error rows: read, parsed and shown within what the eye
// takes for an answering window.
constexpr qint64 kSliceBytes = 256 * 1024;
// How long one turn of reading may hold the window, in milliseconds, and at
// most how many slices it reads (a fast machine still paints as rows come).
constexpr qint64 kTurnMs = 40;
constexpr int kSlicesPerTurn = 8;

// Paths are elided in the middle, so that the file's name stays in sight;
// other values at their end.
class cHistoryDelegate : public cPaddedTextDelegate {
public:
    cHistoryDelegate(QList<int> PathColumns, QObject* Parent)
        : cPaddedTextDelegate(Parent), m_pathColumns(std::move(PathColumns))
    {
    }

protected:
    void initStyleOption(QStyleOptionViewItem* Option, const QModelIndex& Index) const override
    {
        cPaddedTextDelegate::initStyleOption(Option, Index);
        if (m_pathColumns.contains(Index.column()))
            Option->textElideMode = Qt::ElideMiddle;
    }

private:
    QList<int> m_pathColumns;
};

// Apart the cells of a row kept as one text.
const QChar kCellSeparator(0x1F);

QString Unpadded(const QString& Text)
{
    qsizetype end = Text.size();
    while (end > 0 && Text.at(end - 1) == QLatin1Char(' '))
        --end;
    QString out = Text.left(end);
    // A separator in a value would shift the cells after it.
    out.replace(kCellSeparator, QLatin1Char(' '));
    return out;
}

// The time of day a logged line starts with repeats the row's Time column
// and pushes the cause out of sight.
QString WithoutTimePrefix(const QString& Description)
{
    static const QRegularExpression prefix(
        QStringLiteral("^\\d{1,2}[:.]\\d{2}[:.]\\d{2}(?:\\s?[AaPp]\\.?[Mm]\\.?)?[.,]\\d{2}: "));
    const QRegularExpressionMatch m = prefix.match(Description);
    return m.hasMatch() ? Description.mid(m.capturedLength()) : Description;
}

}  // namespace

// ---- cHistoryModel ---------------------------------------------------------------

void cHistoryModel::SetHeaders(const QStringList& Headers, const QList<int>& LeftAligned)
{
    beginResetModel();
    m_headers = Headers;
    m_leftAligned = LeftAligned;
    endResetModel();
}

void cHistoryModel::Clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void cHistoryModel::Append(const std::vector<QStringList>& Rows)
{
    if (Rows.empty())
        return;
    const int first = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(Rows.size()) - 1);
    for (const QStringList& texts : Rows) {
        QByteArray packed = texts.join(kCellSeparator).toUtf8();
        packed.squeeze();
        m_rows.push_back(std::move(packed));
    }
    endInsertRows();
}

QString cHistoryModel::Text(int Row, int Column) const
{
    if (Row < 0 || Row >= rowCount() || Column < 0)
        return QString();
    const QByteArray& packed = m_rows[static_cast<size_t>(Row)];
    const char separator = char(kCellSeparator.unicode());
    qsizetype start = 0;
    for (int c = 0; c < Column; ++c) {
        start = packed.indexOf(separator, start);
        if (start < 0)
            return QString();
        ++start;
    }
    qsizetype end = packed.indexOf(separator, start);
    if (end < 0)
        end = packed.size();
    return QString::fromUtf8(packed.constData() + start, end - start);
}

int cHistoryModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int cHistoryModel::columnCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant cHistoryModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= rowCount() || Index.column() >= columnCount())
        return QVariant();
    if (Role != Qt::DisplayRole && Role != Qt::ToolTipRole)
        return QVariant();
    const QString text = Text(Index.row(), Index.column());
    // The whole value under the pointer, however narrow its column.
    if (Role == Qt::ToolTipRole && text.isEmpty())
        return QVariant();
    return text;
}

QVariant cHistoryModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Section < 0 || Section >= m_headers.size())
        return QAbstractTableModel::headerData(Section, Orientation, Role);
    if (Role == Qt::DisplayRole)
        return m_headers.at(Section);
    if (Role == Qt::TextAlignmentRole && m_leftAligned.contains(Section))
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

// ---- cHistoryScreen --------------------------------------------------------------

cHistoryScreen::cHistoryScreen(const QString& Name, const QString& Caption, kindrecordset Store,
                               QList<FieldColumn> Columns, QWidget* Parent)
    : QWidget(Parent), m_store(Store), m_columns(std::move(Columns))
{
    setObjectName(Name);
    setWindowTitle(Caption);
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(kMinimumScreenWidth, kMinimumScreenHeight);

    m_model = new cHistoryModel(this);
    QStringList headers;
    QList<int> pathColumns, leftAligned;
    for (int c = 0; c < m_columns.size(); ++c) {
        const Column& column = m_columns.at(c).Column;
        headers << (column.Header.isEmpty() ? QString() : Translate(column.Header, kHeaderAmbient));
        if (column.Width > 0)
            leftAligned << c;
        if (m_columns.at(c).Field == QLatin1String("NAME"))
            pathColumns << c;
        if (m_columns.at(c).Field == QLatin1String("ERRDESC"))
            m_descriptionColumn = c;
    }
    m_model->SetHeaders(headers, leftAligned);

    m_grdData = new QTableView(this);
    m_grdData->setObjectName(QStringLiteral("grdData"));
    m_grdData->setModel(m_model);
    m_grdData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grdData->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grdData->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grdData->setContextMenuPolicy(Qt::CustomContextMenu);
    m_grdData->setWordWrap(false);
    m_grdData->verticalHeader()->setVisible(false);
    // Rows of one height: the view places a hundred thousand of them without
    // measuring each.
    m_grdData->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_grdData->verticalHeader()->setDefaultSectionSize(m_grdData->fontMetrics().height() + 8);
    m_grdData->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_columns.at(c).Column.Width > 0)
            m_grdData->setColumnWidth(c, m_columns.at(c).Column.Width);
    // Values are kept without the padding of fixed text; a value wider than
    // its column ends in an ellipsis (a path loses its middle) and reads
    // whole in its tip.
    m_grdData->setItemDelegate(new cHistoryDelegate(pathColumns, m_grdData));
    connect(m_grdData, &QWidget::customContextMenuRequested, this, &cHistoryScreen::grdData_ContextMenu);
    auto* layout = new QVBoxLayout(this);
    // The strip below the grid, as the other list screens have it.
    layout->setContentsMargins(0, 0, 0, 33);
    layout->addWidget(m_grdData);

    m_widest.assign(static_cast<size_t>(m_columns.size()), 0);

    // The next slice of a large store, once the window had its turn.
    m_nextSlice.setSingleShot(true);
    m_nextSlice.setInterval(0);
    connect(&m_nextSlice, &QTimer::timeout, this, [this] {
        m_loading = false;
        ReadSlice();
    });

    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer1.setInterval(60000);
    connect(&m_timer1, &QTimer::timeout, this, &cHistoryScreen::Timer1_Timer);
    m_timer1.start();

    // Load.
    TranslateForm(this, Name);
}

cHistoryScreen::~cHistoryScreen() = default;

int cHistoryScreen::RowCount() const
{
    return m_model->rowCount();
}

QString cHistoryScreen::CellText(int Row, int Column) const
{
    return m_model->Text(Row, Column);
}

void cHistoryScreen::ActionClose()
{
    close();
}

void cHistoryScreen::ActionClear()
{
    cMeridoxData data;
    if (!data.Clear(m_store))
        Dialogs().MsgBox(this,
                         Translate(QStringLiteral("The history could not be cleared: "), objectName()) +
                             data.LastError(),
                         MsgBoxStyle::vbCritical);
    // Read from the start: the store is new.
    m_reader.reset();
    m_nextSlice.stop();
    m_loading = false;
    LoadGrid();
}

void cHistoryScreen::ActionEdit()
{
    LoadGrid();
    ShowChild(this);
}

void cHistoryScreen::LoadGrid()
{
    // A fill under way reads on to the end of the store by itself.
    if (m_loading)
        return;
    if (!m_reader)
        m_reader = std::make_unique<cStoreReader>(cMeridoxData(), m_store);
    ReadSlice();
}

void cHistoryScreen::ReadSlice()
{
    if (!m_reader)
        return;
    // Slices are read for a few hundredths of a second, then the window has
    // its turn (input, painting) before the next ones.
    QElapsedTimer turn;
    turn.start();
    std::vector<QStringList> rows;
    bool more = false;
    int slices = 0;
    do {
        cStoreReader::Slice slice = m_reader->Read(kSliceBytes);
        ReportStoreProblem(this, slice.Problem, m_storeProblem);
        if (slice.Restarted) {
            rows.clear();
            m_fieldIndex.assign(static_cast<size_t>(m_columns.size()), -1);
            const auto& fields = m_reader->Fields();
            for (int c = 0; c < m_columns.size(); ++c)
                for (size_t f = 0; f < fields.size(); ++f)
                    if (fields[f].name.compare(m_columns.at(c).Field, Qt::CaseInsensitive) == 0)
                        m_fieldIndex[static_cast<size_t>(c)] = static_cast<int>(f);
            m_model->Clear();
        }
        for (const QVariantList& values : slice.Rows)
            rows.push_back(RowTexts(values));
        more = slice.More;
    } while (more && ++slices < kSlicesPerTurn && turn.elapsed() < kTurnMs);
    FitColumns(rows);
    m_model->Append(rows);
    m_loading = more;
    if (m_loading)
        m_nextSlice.start();
}

QStringList cHistoryScreen::RowTexts(const QVariantList& Values) const
{
    QStringList texts;
    texts.reserve(m_columns.size());
    for (int c = 0; c < m_columns.size(); ++c) {
        const int field = m_fieldIndex[static_cast<size_t>(c)];
        QString text = field >= 0 && field < Values.size() ? Unpadded(AdminScreens::CellText(Values.at(field)))
                                                           : QString();
        if (c == m_descriptionColumn)
            text = WithoutTimePrefix(text);
        texts << text;
    }
    return texts;
}

void cHistoryScreen::FitColumns(const std::vector<QStringList>& Rows)
{
    // Columns grow to what their values need, as rows come: the longest text
    // of each slice is measured, not every cell.
    const QFontMetrics cells = m_grdData->fontMetrics();
    const QFontMetrics header = m_grdData->horizontalHeader()->fontMetrics();
    const int padding = 2 * m_grdData->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12;
    const int limit = std::max(m_grdData->horizontalHeader()->defaultSectionSize(), cells.averageCharWidth() * 32);
    for (int c = 0; c < m_columns.size(); ++c) {
        const int given = m_columns.at(c).Column.Width;
        int wanted = 0;
        if (!m_columnsFitted)
            wanted = header.horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString()) + padding + 8;
        const QString* longest = nullptr;
        for (const QStringList& row : Rows)
            if (c < row.size() && (!longest || row.at(c).size() > longest->size()))
                longest = &row.at(c);
        if (longest && longest->size() > m_widest[static_cast<size_t>(c)]) {
            m_widest[static_cast<size_t>(c)] = static_cast<int>(longest->size());
            wanted = std::max(wanted, cells.horizontalAdvance(*longest) + padding);
        }
        if (wanted == 0)
            continue;
        if (given > 0) {
            // Grow to the contents, never beyond the larger of the limit and
            // the given width; never shrink below the given width.
            wanted = std::min(wanted, std::max(limit, given));
            if (m_grdData->columnWidth(c) < wanted)
                m_grdData->setColumnWidth(c, wanted);
            continue;
        }
        // Narrow columns (counters) keep to their header, so a window of
        // ordinary size shows every column.
        wanted = std::max(std::min(wanted, limit), cells.averageCharWidth() * 4);
        if (!m_columnsFitted || m_grdData->columnWidth(c) < wanted)
            m_grdData->setColumnWidth(c, wanted);
    }
    m_columnsFitted = true;
}

void cHistoryScreen::Timer1_Timer()
{
    LoadGrid();
}

void cHistoryScreen::grdData_ContextMenu(const QPoint& Pos)
{
    ShowClearPopup(m_grdData->viewport()->mapToGlobal(Pos));
}
