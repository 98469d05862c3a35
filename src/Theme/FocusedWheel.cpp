#include "Theme/FocusedWheel.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QPointer>
#include <QScrollBar>

namespace {

bool takesWheelAsValue(const QWidget *widget)
{
    return qobject_cast<const QComboBox *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget)
        || (qobject_cast<const QAbstractSlider *>(widget)
            && !qobject_cast<const QScrollBar *>(widget));
}

// These widgets take focus from the wheel by default, so the first wheel step over one would
// both focus and edit it: here only a click or Tab focuses them.
void dropWheelFocus(QWidget *widget)
{
    if (widget->focusPolicy() == Qt::WheelFocus && takesWheelAsValue(widget))
        widget->setFocusPolicy(Qt::StrongFocus);
}

class FocusedWheelFilter final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Polish && event->type() != QEvent::Wheel)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || !takesWheelAsValue(widget))
            return false;
        if (event->type() == QEvent::Polish) {
            dropWheelFocus(widget);
            return false;
        }
        if (widget->hasFocus())
            return false;
        // Handled but not accepted: the application offers the wheel to the parents, up to
        // the scroll area around the field.
        event->ignore();
        return true;
    }
};

} // namespace

void installFocusedWheel()
{
    static QPointer<FocusedWheelFilter> installed;
    if (installed || !qApp)
        return;
    installed = new FocusedWheelFilter(qApp);
    qApp->installEventFilter(installed);
    for (QWidget *widget : QApplication::allWidgets())
        dropWheelFocus(widget);
}
