#pragma once

#include "engine/ServerList.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableView>

#include <array>
#include <optional>
#include <vector>

namespace qrv::gui {

// Picture index of a status in `imagelistStatus`, by exact, case-sensitive comparison; none
// for every other text, the empty status of a waiting server included.
std::optional<int> StatusPictureIndex(const std::string& status);

// The field objects of `setServer`: what binds the grid's columns to the list's fields by name.
// Their names must never be translated (the Czech catalogue holds "Url", "Status", ...), which
// the exclusions registered by the main window guarantee.
class TField : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString FieldName READ FieldName WRITE SetFieldName)
    Q_PROPERTY(QString DefaultExpression READ DefaultExpression WRITE SetDefaultExpression)
    Q_PROPERTY(QString KeyFields READ KeyFields WRITE SetKeyFields)
    Q_PROPERTY(QString LookupKeyFields READ LookupKeyFields WRITE SetLookupKeyFields)
    Q_PROPERTY(QString LookupResultField READ LookupResultField WRITE SetLookupResultField)
    Q_PROPERTY(QString Origin READ Origin WRITE SetOrigin)
public:
    TField(const QString& fieldName, QObject* parent);

    QString FieldName() const { return fieldName_; }
    void SetFieldName(const QString& v) { fieldName_ = v; }
    QString DefaultExpression() const { return defaultExpression_; }
    void SetDefaultExpression(const QString& v) { defaultExpression_ = v; }
    QString KeyFields() const { return keyFields_; }
    void SetKeyFields(const QString& v) { keyFields_ = v; }
    QString LookupKeyFields() const { return lookupKeyFields_; }
    void SetLookupKeyFields(const QString& v) { lookupKeyFields_ = v; }
    QString LookupResultField() const { return lookupResultField_; }
    void SetLookupResultField(const QString& v) { lookupResultField_ = v; }
    QString Origin() const { return origin_; }
    void SetOrigin(const QString& v) { origin_ = v; }

    // The list field this object names, if the name is one of the ten.
    std::optional<engine::TField> Bound() const;

private:
    QString fieldName_;
    QString defaultExpression_;
    QString keyFields_;
    QString lookupKeyFields_;
    QString lookupResultField_;
    QString origin_;
};

// The list's field definitions (name only).
class TFieldDef : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
public:
    TFieldDef(const QString& name, QObject* parent);
    QString Name() const { return name_; }
    void SetName(const QString& v) { name_ = v; }

private:
    QString name_;
};

// Parameters of the list (none are used; the class is excluded from translation whole).
class TParam : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
public:
    explicit TParam(QObject* parent) : QObject(parent) {}
    QString Name() const { return name_; }
    void SetName(const QString& v) { name_ = v; }

private:
    QString name_;
};

// One column of `gridLink`: its title (translated with the window) and the name of the field
// it shows (empty for the status icon column).
class TGridColumn : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ Title WRITE SetTitle NOTIFY TitleChanged)
    Q_PROPERTY(QString FieldName READ FieldName WRITE SetFieldName)
public:
    TGridColumn(const QString& title, const QString& fieldName, int width, QObject* parent);

    QString Title() const { return title_; }
    void SetTitle(const QString& title);
    QString FieldName() const { return fieldName_; }
    void SetFieldName(const QString& v) { fieldName_ = v; }
    int Width() const { return width_; }

Q_SIGNALS:
    void TitleChanged();

private:
    QString title_;
    QString fieldName_;
    int width_;
};

// Keeps the grid's columns inside its viewport: the last column (the description) gives up what
// the others leave short, so that the vertical scroll bar of a long list never pushes the
// columns into a horizontal one (which would hide a row and cut the vertical bar's edge). With
// room to spare every column has its designed width.
class TGridColumnFit : public QObject {
    Q_OBJECT
public:
    TGridColumnFit(QTableView& view, std::vector<TGridColumn*> columns);

    void Fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableView& view_;
    // Kept from the start: the filter also sees the viewport's events while the view is being
    // destroyed, when no member of the view may be called any more.
    QObject* viewport_;
    std::vector<TGridColumn*> columns_;
};

// `setServer` as the grid sees it: a model over the list by position in Name order. The list
// stays the only store; the model only reads it and is told when it changed.
class TServerTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // `fields` are the list's field objects; `columns` the grid's columns, left to right. A
    // table view as `parent` is the grid: its columns are kept inside it (TGridColumnFit).
    TServerTableModel(engine::TServerList& list, std::vector<TField*> fields,
                      std::vector<TGridColumn*> columns, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The list changed: rows added or removed reset the model, anything else repaints it.
    void ListChanged();

    // What a cell shows, read from the list through the field binding.
    std::string CellText(int row, int column) const;
    bool RowActive(int row) const;
    std::string RowStatus(int row) const;

private:
    std::optional<engine::TField> FieldOf(const QString& fieldName) const;

    engine::TServerList& list_;
    std::vector<TField*> fields_;
    std::vector<TGridColumn*> columns_;
    int rows_ = 0;
};

// Paints the cells of `gridLink` (`gridLinkDrawColumnCell`): inactive rows grey in every cell,
// the selected one included; the name column in the menu colour; the status icon in column 0.
class TServerGridDelegate : public QStyledItemDelegate {
public:
    TServerGridDelegate(const TServerTableModel& model, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // The ground of an inactive row: halfway between the palette's base and text colours (RGB
    // 128 grey with black on white), moved towards the base until the text reads at 4.5:1.
    static QColor InactiveColor(const QPalette& palette);

    // The status picture at `index` over `background`, at the device's pixel ratio.
    QPixmap StatusPicture(int index, qreal ratio, const QColor& background) const;

private:
    const TServerTableModel& model_;
    // Made again only when the ratio or the background changes.
    mutable std::array<QPixmap, 5> statusPictures_;
    mutable qreal picturesRatio_ = 0;
    mutable QColor picturesBackground_;
};

} // namespace qrv::gui
