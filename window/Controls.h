// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The window's own kinds of control, and the number format of its status.
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QString>

#include <functional>
#include <string>

// The window's picture control. It keeps a frame's picture as decoded and
// converts it for the screen only when it is painted, so loading a frame into
// the hidden control costs the read and nothing more.
class PictureBox : public QLabel {
public:
    using QLabel::QLabel;
    const QImage& picture() const { return picture_; }
    void SetPicture(QImage picture);
    // Scratch for the next picture: filled in place, then shown with
    // ShowNext(), so neither array is allocated again for frames of one size.
    QImage& Next() { return next_; }
    void ShowNext();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    QImage next_;
};

// A single-line path box that tells when the user moves the focus away.
class PathBox : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void()> onFocusLost;

protected:
    void focusOutEvent(QFocusEvent* event) override;
};

// A label that opens the link in its Tag when clicked.
class LinkLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::string Tag;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A word-wrapped text whose lines are set the font's design line height
// apart (its ascent and descent as Windows measures them, which a negative
// leading of Qt's would pack closer), so that at every scale one line's
// descenders stay clear of the next line's capitals.
class WrappedLabel : public QLabel {
public:
    using QLabel::QLabel;
    // The distance between two lines' tops, in the widget's pixels.
    qreal LinePitch() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Bold texts stay bold wherever the desktop scales the window. Qt
// strengthens a font's synthesized bold by the font's unscaled size, so
// glyphs the painter then scales to 150 % or 200 % come out all but regular;
// this style draws such texts as outlines, which are emboldened first and
// scaled afterwards, and leaves every other text to the style beneath.
class ScaledBoldStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette, bool enabled,
                      const QString& text, QPalette::ColorRole textRole = QPalette::NoRole) const override;
};

// A percentage with exactly one decimal in the user's number format.
QString FormatPercent(double percent);
