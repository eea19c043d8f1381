// SPDX-License-Identifier: GPL-2.0-or-later
#include "Controls.h"

#include <QFocusEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>
#include <QtEndian>

#include <algorithm>
#include <cmath>

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

qreal WrappedLabel::LinePitch() const
{
    const QFontMetricsF metrics(font());
    const QRawFont raw = QRawFont::fromFont(font());
    const QByteArray os2 = raw.fontTable("OS/2");
    // usWinAscent and usWinDescent, big-endian at bytes 74 and 76.
    if (os2.size() < 78 || raw.unitsPerEm() <= 0)
        return std::max(metrics.lineSpacing(), metrics.height());
    const qreal scale = raw.pixelSize() / raw.unitsPerEm();
    const qreal ascent = std::round(qFromBigEndian<quint16>(os2.constData() + 74) * scale);
    const qreal descent = std::round(qFromBigEndian<quint16>(os2.constData() + 76) * scale);
    return std::max({ascent + descent, metrics.lineSpacing(), metrics.height()});
}

void WrappedLabel::paintEvent(QPaintEvent* event)
{
    static_cast<void>(event);
    const QRectF area = contentsRect();
    QTextLayout layout(text(), font(), this);
    QTextOption option(alignment());
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const qreal pitch = LinePitch();
    layout.beginLayout();
    for (qreal top = 0;; top += pitch) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, top));
    }
    layout.endLayout();
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    layout.draw(&painter, area.topLeft());
}

void ScaledBoldStyle::drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                                   bool enabled, const QString& text, QPalette::ColorRole textRole) const
{
    const QTransform& scaling = painter->deviceTransform();
    const bool scaled = !qFuzzyCompare(scaling.m11(), 1.0) || !qFuzzyCompare(scaling.m22(), 1.0);
    // Mnemonics and wrapped lines are the style's to lay out.
    if (!scaled || !painter->font().bold() || text.contains(QLatin1Char('&')) || (flags & Qt::TextWordWrap)) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        return;
    }
    const QFontMetricsF metrics(painter->font());
    const QRectF box = QStyle::alignedRect(Qt::LeftToRight, Qt::Alignment(flags & (Qt::AlignHorizontal_Mask | Qt::AlignVertical_Mask)),
                                           QSizeF(metrics.horizontalAdvance(text), metrics.height()).toSize(), rect);
    QPainterPath outline;
    outline.addText(QPointF(box.left(), box.top() + metrics.ascent()), painter->font(), text);
    const QColor colour = textRole == QPalette::NoRole
                              ? painter->pen().color()
                              : enabled ? palette.color(textRole) : palette.color(QPalette::Disabled, textRole);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillPath(outline, colour);
    painter->restore();
}

QString FormatPercent(double percent)
{
    // No digit grouping: a percentage is never read as a thousands figure.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(percent, 'f', 1);
}
