#pragma once

#include <QFont>
#include <QStringList>

// The windows' twip sizes were laid out for a narrow 9-point Japanese face at 96 dpi (12 pixels);
// a wider desktop font would cut their captions. Windows set this font on themselves.
inline QFont designFont(QFont base)
{
    base.setFamilies({QStringLiteral("VL PGothic"), QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                      base.family()});
    base.setPixelSize(12);
    return base;
}
