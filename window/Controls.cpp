#include "Controls.h"

#include <QFocusEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>

void PathBox::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Switching to another program or opening a menu is not leaving the box.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    if (onFocusLost)
        onFocusLost();
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick)
        onClick();
}

void PictureBox::SetPicture(QImage picture)
{
    picture_ = std::move(picture);
    update();
}

void PictureBox::ShowNext()
{
    picture_.swap(next_);
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (!picture_.isNull()) {
        QPainter painter(this);
        painter.drawImage(0, 0, picture_);
    }
}

QString FormatPercent(double percent)
{
    // No digit grouping: a percentage is never read as a thousands figure.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(percent, 'f', 1);
}
