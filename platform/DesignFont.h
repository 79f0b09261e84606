#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>

// The faces the windows prefer, first come first served: narrow Japanese faces first. Whatever
// face is found, every caption must still fit (a test puts each supported face first in turn).
inline QStringList& designFamilies()
{
    static QStringList families{QStringLiteral("VL PGothic"), QStringLiteral("IPAPGothic"),
                                QStringLiteral("Noto Sans CJK JP")};
    return families;
}

// The windows' twip sizes were laid out for a narrow 9-point Japanese face at 96 dpi (12 pixels);
// a wider desktop font would cut their captions. Windows set this font on themselves.
inline QFont designFont(QFont base)
{
    base.setFamilies(designFamilies() + QStringList{base.family()});
    base.setPixelSize(12);
    return base;
}

// A label the design made lower than a face's line, or whose foot the window cuts: the caption's
// glyphs, not its line, are placed in the top shownHeight pixels, as near their middle as the label's
// own ways of laying out a line allow (centred, or standing on its foot raised by a margin), in a
// smaller size where the face's glyphs would not fit. So no face loses a stroke.
inline void centreInk(QLabel* label, int shownHeight)
{
    const Qt::Alignment across = label->alignment() & Qt::AlignHorizontal_Mask;
    QFont font = label->font();
    for (;;) {
        const QFontMetrics metrics(font);
        const QRect ink = metrics.tightBoundingRect(label->text());
        const int wantedTop = (shownHeight - ink.height()) / 2;
        int bestMargin = -1, bestMiss = shownHeight;
        Qt::Alignment best;
        for (int margin = 0; margin + 1 < label->height(); ++margin) {
            for (Qt::Alignment down : {Qt::AlignBottom, Qt::AlignVCenter}) {
                const QRect place(0, 0, label->width(), label->height() - margin);
                const int top = metrics.boundingRect(place, int(across | down), label->text()).top() +
                                metrics.ascent() + ink.top();
                if (top >= 0 && top + ink.height() <= shownHeight && std::abs(top - wantedTop) < bestMiss)
                    bestMargin = margin, bestMiss = std::abs(top - wantedTop), best = across | down;
            }
        }
        if (bestMargin >= 0 || font.pixelSize() <= 6) {
            label->setFont(font);
            label->setAlignment(bestMargin >= 0 ? best : across | Qt::AlignTop);
            label->setContentsMargins(0, 0, 0, std::max(0, bestMargin));
            return;
        }
        font.setPixelSize(font.pixelSize() - 1);
    }
}
