#pragma once

#include <QFont>
#include <QPersistentModelIndex>
#include <QPixmap>
#include <QPointer>
#include <QStyledItemDelegate>

class QLineEdit;

// Paints one row of a LabelRowsModel (number, name, and the revert button while the name is
// changed, with a hairline over every row but the first) and edits the name in a borderless
// line edit that hands every keystroke to the model, so the model always holds what was typed.
class LabelRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit LabelRowDelegate(QObject *parent = nullptr);

    int rowHeight() const { return m_rowHeight; }
    // Parts of a row's rectangle.
    static QRect nameRect(const QRect &row);
    static QRect revertRect(const QRect &row);

    // Shows the model's current name in the open editor, if any, after rows were replaced.
    void refreshEditor();

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

protected:
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QFont m_numberFont;
    QPixmap m_revertIcon;
    int m_rowHeight = 0;
    mutable QPointer<QLineEdit> m_editor;
    mutable QPersistentModelIndex m_editorIndex;
};
