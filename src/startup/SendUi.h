#pragma once
// What the send side adds to the main window: the work behind "送信".

namespace kestlin {

class frmKestlin_01;

// Runs one submission of the report for the main window's cmdSend.
void RunSendFromWindow(frmKestlin_01 &window);

} // namespace kestlin
