#include "startup/Appearance.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTranslator>

namespace kestlin {

QStringList PreferredFontFamilies()
{
    // Monospaced gothic faces made for Japanese. A Chinese face chosen by
    // fallback would draw kanji such as 報 and 添 with the wrong shapes, so the
    // families are named here rather than left to the font matcher.
    return { QString::fromUtf8("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
             QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP") };
}

QString ChosenFontFamily(const QStringList &installed)
{
    for (const QString &family : PreferredFontFamilies()) {
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    }
    return {};
}

QFont KestlinFont()
{
    QFont font;
    QStringList families = PreferredFontFamilies();
    const QString chosen = ChosenFontFamily(QFontDatabase::families());
    if (!chosen.isEmpty())
        families.prepend(chosen);
    families.append(QStringLiteral("Noto Sans CJK JP"));
    font.setFamilies(families);
    // 9 point at 96 dpi: the window geometry is in pixels of that density.
    font.setPixelSize(12);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

void SetUpAppearance(QApplication &app)
{
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    // Qt's own windows and menus (the file and folder choosers, the context
    // menu of every text box) speak Japanese too, with the system's Qt
    // translations; without them they stay English and the program still runs.
    auto *translator = new QTranslator(&app);
    if (translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    app.setFont(KestlinFont());
    app.setWindowIcon(KestlinIcon());
    // Lets the desktop match the windows with the installed desktop entry and icon.
    app.setDesktopFileName(QStringLiteral("io.github.kestlin.Kestlin"));
}

namespace {

// An envelope with a drop of oil on it, drawn for the given edge length.
QPixmap DrawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, size > 16);
    painter.scale(size / 16.0, size / 16.0);

    painter.setPen(QPen(QColor(0x1f, 0x3a, 0x93), 1.0));
    painter.setBrush(QColor(0xf4, 0xf6, 0xfb));
    painter.drawRect(QRectF(0.5, 4.5, 13, 9));
    painter.drawLine(QPointF(0.5, 4.5), QPointF(7, 10));
    painter.drawLine(QPointF(13.5, 4.5), QPointF(7, 10));

    QPainterPath drop;
    drop.moveTo(12.5, 0.5);
    drop.cubicTo(12.5, 0.5, 15.5, 4.5, 15.5, 6.2);
    drop.cubicTo(15.5, 8.0, 14.2, 9.5, 12.5, 9.5);
    drop.cubicTo(10.8, 9.5, 9.5, 8.0, 9.5, 6.2);
    drop.cubicTo(9.5, 4.5, 12.5, 0.5, 12.5, 0.5);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(0x20, 0x18, 0x10), 1.0));
    painter.setBrush(QColor(0x3a, 0x2c, 0x1a));
    painter.drawPath(drop);
    return pixmap;
}

} // namespace

QIcon KestlinIcon()
{
    QIcon icon;
    icon.addPixmap(DrawIcon(16));
    icon.addPixmap(DrawIcon(32));
    return icon;
}

} // namespace kestlin
