#pragma once

#include <QCheckBox>

// A check box whose caption wraps onto further lines within its width, as a caption longer than
// one line of a tall box is meant to.
class WrappingCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit WrappingCheckBox(const QString& text, QWidget* parent = nullptr) : QCheckBox(text, parent) {}

    // Where the caption is drawn: right of the box, the widget's full height.
    QRect captionRect() const;
    static constexpr int CaptionFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;

protected:
    void paintEvent(QPaintEvent* event) override;
};
