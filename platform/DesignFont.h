#pragma once

#include <QFont>
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
