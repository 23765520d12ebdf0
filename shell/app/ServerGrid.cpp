#include "shell/app/ServerGrid.h"

#include "resources/Pictures.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <string>

namespace qrv::gui {

std::optional<int> StatusPictureIndex(const std::string& status) {
    if (status == "ERR_LOAD") {
        return 0;
    }
    if (status == "CHECK") {
        return 1;
    }
    if (status == "OK") {
        return 2;
    }
    if (status == "ERR_RESP" || status == "ERR_SLOW") {
        return 3;
    }
    if (status == "OFFLINE") {
        return 4;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

TField::TField(const QString& fieldName, QObject* parent)
    : QObject(parent), fieldName_(fieldName) {}

std::optional<engine::TField> TField::Bound() const {
    const std::string name = fieldName_.toStdString();
    for (int i = 0; i < engine::kFieldCount; ++i) {
        const auto field = static_cast<engine::TField>(i);
        if (engine::FieldName(field) == name) {
            return field;
        }
    }
    return std::nullopt;
}

TFieldDef::TFieldDef(const QString& name, QObject* parent) : QObject(parent), name_(name) {}

TGridColumn::TGridColumn(const QString& title, const QString& fieldName, int width, QObject* parent)
    : QObject(parent), title_(title), fieldName_(fieldName), width_(width) {}

void TGridColumn::SetTitle(const QString& title) {
    if (title == title_) {
        return;
    }
    title_ = title;
    Q_EMIT TitleChanged();
}

// ---------------------------------------------------------------------------------------------

TGridColumnFit::TGridColumnFit(QTableView& view, std::vector<TGridColumn*> columns)
    : QObject(&view), view_(view), viewport_(view.viewport()), columns_(std::move(columns)) {
    // The viewport narrows when the vertical bar appears and widens when it goes: fitting on
    // its resize, before the view lays out its bars, means the horizontal bar never comes.
    viewport_->installEventFilter(this);
}

void TGridColumnFit::Fit() {
    if (columns_.empty() || view_.model() == nullptr ||
        view_.model()->columnCount() != static_cast<int>(columns_.size())) {
        return;
    }
    int others = 0;
    for (std::size_t i = 0; i + 1 < columns_.size(); ++i) {
        others += columns_[i]->Width();
        view_.setColumnWidth(static_cast<int>(i), columns_[i]->Width());
    }
    const int room = view_.viewport()->width() - others;
    const int last = std::max(std::min(columns_.back()->Width(), room),
                              view_.horizontalHeader()->minimumSectionSize());
    view_.setColumnWidth(static_cast<int>(columns_.size() - 1), last);
}

bool TGridColumnFit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewport_ && event->type() == QEvent::Resize) {
        Fit();
    }
    return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------

TServerTableModel::TServerTableModel(engine::TServerList& list, std::vector<TField*> fields,
                                     std::vector<TGridColumn*> columns, QObject* parent)
    : QAbstractTableModel(parent), list_(list), fields_(std::move(fields)),
      columns_(std::move(columns)) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const int section = static_cast<int>(i);
        connect(columns_[i], &TGridColumn::TitleChanged, this,
                [this, section] { Q_EMIT headerDataChanged(Qt::Horizontal, section, section); });
    }
    rows_ = list_.Active() ? list_.RecordCount() : 0;
    if (auto* view = qobject_cast<QTableView*>(parent)) {
        new TGridColumnFit(*view, columns_);
    }
}

int TServerTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TServerTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

std::optional<engine::TField> TServerTableModel::FieldOf(const QString& fieldName) const {
    if (fieldName.isEmpty()) {
        return std::nullopt;
    }
    for (const TField* field : fields_) {
        if (field->FieldName() == fieldName) {
            return field->Bound();
        }
    }
    return std::nullopt;
}

std::string TServerTableModel::CellText(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= static_cast<int>(columns_.size())) {
        return {};
    }
    const std::optional<engine::TField> field =
        FieldOf(columns_[static_cast<std::size_t>(column)]->FieldName());
    if (!field) {
        return {};
    }
    if (*field == engine::TField::LoadTime || *field == engine::TField::Timeout) {
        return std::to_string(list_.AsIntegerAt(row, *field));
    }
    return list_.AsStringAt(row, *field);
}

bool TServerTableModel::RowActive(int row) const {
    const std::optional<engine::TField> field = FieldOf(QStringLiteral("Active"));
    if (!field || row < 0 || row >= rows_) {
        return true;
    }
    return list_.AsBooleanAt(row, *field);
}

std::string TServerTableModel::RowStatus(int row) const {
    const std::optional<engine::TField> field = FieldOf(QStringLiteral("Status"));
    if (!field || row < 0 || row >= rows_) {
        return {};
    }
    return list_.AsStringAt(row, *field);
}

QVariant TServerTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) {
        return {};
    }
    return QString::fromStdString(CellText(index.row(), index.column()));
}

QVariant TServerTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(columns_.size())) {
        return {};
    }
    const TGridColumn* column = columns_[static_cast<std::size_t>(section)];
    switch (role) {
    case Qt::DisplayRole:
        return column->Title();
    case Qt::FontRole:
        if (column->FieldName() == QStringLiteral("Name")) {
            QFont bold = QApplication::font();
            bold.setBold(true);
            return bold;
        }
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

void TServerTableModel::ListChanged() {
    const int rows = list_.Active() ? list_.RecordCount() : 0;
    if (rows != rows_) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
        return;
    }
    if (rows_ > 0) {
        Q_EMIT dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
    }
}

// ---------------------------------------------------------------------------------------------

QColor TServerGridDelegate::InactiveColor(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    const auto mix = [&](int percent) {
        const auto channel = [percent](int from, int to) {
            return (from * (100 - percent) + to * percent + 50) / 100;
        };
        return QColor(channel(base.red(), text.red()), channel(base.green(), text.green()),
                      channel(base.blue(), text.blue()));
    };
    QColor grey = mix(50);
    for (int percent = 45; percent >= 0 && ContrastRatio(grey, text) < 4.5; percent -= 5)
        grey = mix(percent);
    return grey;
}

TServerGridDelegate::TServerGridDelegate(const TServerTableModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QPixmap TServerGridDelegate::StatusPicture(int index, qreal ratio, const QColor& background) const {
    if (index < 0 || index >= static_cast<int>(statusPictures_.size()))
        return {};
    if (ratio != picturesRatio_ || background != picturesBackground_) {
        for (int i = 0; i < static_cast<int>(statusPictures_.size()); ++i) {
            statusPictures_[static_cast<std::size_t>(i)] =
                RenderPictureAt(StatusPicturePath(i), QSize(16, 16), ratio, background);
        }
        picturesRatio_ = ratio;
        picturesBackground_ = background;
    }
    return statusPictures_[static_cast<std::size_t>(index)];
}

void TServerGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const int row = index.row();
    const int column = index.column();
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QPalette& palette = option.palette;

    QColor background = palette.color(QPalette::Base);
    if (column == 1) {
        // The name column has the menu colour of its own.
        background = QApplication::palette("QMenu").color(QPalette::Base);
    }
    if (selected) {
        background = palette.color(QPalette::Highlight);
    }
    if (!model_.RowActive(row)) {
        background = InactiveColor(palette);
    }
    const QColor foreground = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);

    painter->save();
    painter->fillRect(option.rect, background);
    const QString text = QString::fromStdString(model_.CellText(row, column));
    if (!text.isEmpty()) {
        painter->setPen(foreground);
        painter->setFont(option.font);
        const QRect textRect = option.rect.adjusted(2, 0, -2, 0);
        // A description may hold line breaks (socket errors do); the cell shows one line.
        QString line = text;
        line.replace(QLatin1String("\r\n"), QLatin1String(" "));
        line.replace(QLatin1Char('\r'), QLatin1Char(' '));
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
    }
    if (column == 0) {
        const std::optional<int> picture = StatusPictureIndex(model_.RowStatus(row));
        if (picture) {
            const QRect square(option.rect.topLeft(), QSize(16, 16));
            // The list's ground (white on a light palette) fills the transparent parts of the
            // picture.
            const QColor ground = palette.color(QPalette::Base);
            painter->fillRect(square, ground);
            painter->drawPixmap(
                square, StatusPicture(*picture, painter->device()->devicePixelRatioF(), ground));
        }
    }
    painter->restore();
}

} // namespace qrv::gui
