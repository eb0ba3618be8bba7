#pragma once
// The About box: the program's title, its version and the main window's icon.
#include <QDialog>
#include <string>

class QLabel;
class QPushButton;

namespace kestlin {

// major "." minor revision, each number after a sign position (a blank when it
// is not negative): 1, 2, 0 gives " 1. 2 0".
std::string VersionText(int major, int minor, int revision);

class frmAbout : public QDialog
{
    Q_OBJECT

public:
    // The icon shown is the owner's window icon (the application's without an owner).
    explicit frmAbout(QWidget *owner);
};

} // namespace kestlin
