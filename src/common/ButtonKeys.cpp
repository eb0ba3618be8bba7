#include "common/ButtonKeys.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace kestlin {

namespace {

class EnterClicks : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto *button = static_cast<QAbstractButton *>(watched);
        // A held key must not go on to press whatever button comes up next,
        // such as the OK of the message that this press shows.
        if (!key->isAutoRepeat() && button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void EnterPressesButton(QAbstractButton *button)
{
    button->installEventFilter(new EnterClicks(button));
}

} // namespace kestlin
