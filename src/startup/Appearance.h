#pragma once
// The look every window of the program shares: a Japanese gothic font and the
// program's own icon.
#include <QFont>
#include <QIcon>
#include <QStringList>

class QApplication;

namespace kestlin {

// The font families wanted, best first.
QStringList PreferredFontFamilies();

// The first wanted family that is installed; empty when none is.
QString ChosenFontFamily(const QStringList &installed);

// The windows' font: 9 point at 96 dpi, Japanese glyph shapes.
QFont KestlinFont();

// Japanese locale, Qt's Japanese translations, the windows' font and icon for
// the whole application.
void SetUpAppearance(QApplication &app);

// The main window's icon (16 by 16, with a larger size for bigger places).
QIcon KestlinIcon();

} // namespace kestlin
