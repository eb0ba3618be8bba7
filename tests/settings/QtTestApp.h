#pragma once
// The Qt application the window tests run in, and small helpers for modal dialogs.
#include <QWidget>
#include <functional>

namespace kestlin::test {

// Runs action once the next modal dialog is up, with that dialog; a dialog that
// is still open a few seconds later is closed so that a failing test cannot hang.
void WhenModal(std::function<void(QWidget *dialog)> action);

} // namespace kestlin::test
