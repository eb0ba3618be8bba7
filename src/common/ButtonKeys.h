#pragma once
// Keys that a Windows user expects of command buttons.
class QAbstractButton;

namespace kestlin {

// Enter (either key) presses the button while it has the focus, as Space
// does; held down, it presses once. Enter elsewhere is left alone, so that
// Enter in a text field never saves or closes anything.
void EnterPressesButton(QAbstractButton *button);

} // namespace kestlin
