#include "common/QtDisplay.h"
#include "common/userfolders.h"
#include "startup/Appearance.h"
#include "startup/CommandLine.h"
#include "startup/KestlinStart.h"
#include "startup/frmKestlin_01.h"

#include <QApplication>
#include <sys/prctl.h>

int main(int argc, char *argv[])
{
    // The mail password and the report's own password sit in memory while
    // the program runs: no core dump, and no other process of the user may
    // read that memory.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    // With arguments the program runs on the terminal, without a screen;
    // but for Qt's own options for the window, which go to Qt.
    if (argc > 1 && !kestlin::OnlyQtArguments({ argv + 1, argv + argc }))
        return kestlin::RunCommandLine(argc, argv);
    kestlin::ShapeTextAsJapanese();
    QApplication app(argc, argv);
    kestlin::SetUpAppearance(app);
    kestlin::QtDisplay display;
    // One running copy per settings file.
    kestlin::InstanceLock lock(kestlin::LocateFiles().settingsFolder);
    auto window = kestlin::StartKestlin(display, lock);
    if (!window)
        return 0;
    // The program lives as long as its main window.
    return app.exec();
}
