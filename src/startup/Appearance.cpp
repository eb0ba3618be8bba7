#include "startup/Appearance.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>
#include <clocale>
#include <dlfcn.h>
#include <fontconfig/fontconfig.h>
#include <string>

// The window icon's pictures live in a resource of this static library: the
// program pulls them in by this call.
static void LoadIconResources()
{
    Q_INIT_RESOURCE(kestlin_icons);
}

namespace kestlin {

QStringList PreferredFontFamilies()
{
    // Gothic faces made for Japanese, the monospaced ones first. A Chinese or
    // Korean face chosen by fallback would draw kanji such as 報, 送 and 次
    // with the wrong shapes, so the families are named here rather than left
    // to the font matcher.
    return { QString::fromUtf8("ＭＳ ゴシック"),
             QStringLiteral("MS Gothic"),
             QStringLiteral("IPAGothic"),
             QStringLiteral("IPAexGothic"),
             QStringLiteral("Noto Sans Mono CJK JP"),
             QStringLiteral("Noto Sans CJK JP"),
             QStringLiteral("Noto Sans JP"),
             QStringLiteral("VL Gothic"),
             QStringLiteral("TakaoGothic"),
             QStringLiteral("TakaoPGothic") };
}

QString ChosenFontFamily(const QStringList &qtFamilies, const std::vector<QStringList> &fontNames)
{
    for (const QString &wanted : PreferredFontFamilies()) {
        if (qtFamilies.contains(wanted, Qt::CaseInsensitive))
            return wanted;
        // Qt lists a font by its name in the locale's language (IPA Gothic is
        // 「IPAゴシック」 under a Japanese locale): the font is found by any of
        // its names and named as Qt lists it.
        for (const QStringList &names : fontNames) {
            if (!names.contains(wanted, Qt::CaseInsensitive))
                continue;
            for (const QString &name : names) {
                if (qtFamilies.contains(name, Qt::CaseInsensitive))
                    return name;
            }
        }
    }
    return {};
}

std::vector<QStringList> InstalledFontNames()
{
    std::vector<QStringList> fonts;
    FcPattern *pattern = FcPatternCreate();
    FcObjectSet *objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet *set = FcFontList(nullptr, pattern, objects);
    for (int i = 0; set && i < set->nfont; ++i) {
        QStringList names;
        FcChar8 *name = nullptr;
        for (int k = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, k, &name) == FcResultMatch;
             ++k)
            names.append(QString::fromUtf8(reinterpret_cast<const char *>(name)));
        if (!names.isEmpty())
            fonts.push_back(names);
    }
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return fonts;
}

QFont KestlinFont()
{
    QFont font;
    QStringList families = PreferredFontFamilies();
    const QString chosen = ChosenFontFamily(QFontDatabase::families(), InstalledFontNames());
    if (!chosen.isEmpty())
        families.prepend(chosen);
    font.setFamilies(families);
    // 9 point at 96 dpi: the window geometry is in pixels of that density.
    font.setPixelSize(12);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

void ShapeTextAsJapanese()
{
    // HarfBuzz shapes text in the language of the C library's character
    // locale as it finds it at its first shaping, and keeps that. Made
    // Japanese for that moment, a font that covers Chinese, Japanese and
    // Korean (such as a Noto CJK face of another region) draws Japanese forms
    // under any locale. Nothing changes where no Japanese locale is installed.

    // The copy Qt is linked with, already loaded: its remembered language counts.
    void *harfbuzz = ::dlopen("libharfbuzz.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!harfbuzz)
        return;
    using DefaultLanguage = const void *(*)();
    const auto defaultLanguage
        = reinterpret_cast<DefaultLanguage>(::dlsym(harfbuzz, "hb_language_get_default"));
    if (!defaultLanguage) {
        ::dlclose(harfbuzz);
        return;
    }
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    for (const char *japanese : { "ja_JP.UTF-8", "ja_JP.utf8", "ja_JP.eucJP", "ja_JP" }) {
        if (std::setlocale(LC_CTYPE, japanese)) {
            defaultLanguage();
            break;
        }
    }
    std::setlocale(LC_CTYPE, previous.c_str());
    ::dlclose(harfbuzz);
}

namespace {

// Qt marks the focus only once a key has moved it. Each window that comes to
// the front shows where the focus is from the start, as after a Tab.
class FocusShownFromTheStart : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate && watched->isWidgetType()) {
            auto *window = static_cast<QWidget *>(watched);
            if (window->isWindow())
                window->setAttribute(Qt::WA_KeyboardFocusChange);
        }
        return false;
    }
};

} // namespace

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
    app.installEventFilter(new FocusShownFromTheStart(&app));
    // Lets the desktop match the windows with the installed desktop entry and icon.
    app.setDesktopFileName(QStringLiteral("io.github.kestlin.Kestlin"));
}

QIcon KestlinIcon()
{
    LoadIconResources();
    // Drawn from the same picture as the desktop entry's icon, at every size
    // of the icon theme, so that the window's icon stays sharp when scaled.
    QIcon icon;
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/kestlin-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kestlin
