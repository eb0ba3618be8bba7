#pragma once
// The look every window of the program shares: a Japanese gothic font and the
// program's own icon.
#include <QFont>
#include <QIcon>
#include <QStringList>
#include <vector>

class QApplication;

namespace kestlin {

// The font families wanted, best first.
QStringList PreferredFontFamilies();

// The first wanted family that is installed, by the name Qt lists it under
// (qtFamilies); fontNames holds every name of each installed font, localised
// ones included. Empty when none is installed.
QString ChosenFontFamily(const QStringList &qtFamilies, const std::vector<QStringList> &fontNames);

// Every family name fontconfig knows each installed font by, one list per font.
std::vector<QStringList> InstalledFontNames();

// The windows' font: 9 point at 96 dpi, Japanese glyph shapes.
QFont KestlinFont();

// Makes text shaping Japanese whatever the locale; called before the
// application object exists, while the program is still single-threaded.
void ShapeTextAsJapanese();

// Japanese locale, Qt's Japanese translations, the windows' font and icon for
// the whole application.
void SetUpAppearance(QApplication &app);

// The program's icon, at every size from 16 to 256 pixels.
QIcon KestlinIcon();

} // namespace kestlin
