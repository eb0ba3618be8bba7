// Placeholder until the send pipeline exists.
#include "startup/SendUi.h"

namespace kestlin {

void RunSendFromWindow(frmKestlin_01 &) { }

} // namespace kestlin
