// Not built: the engine check's example of an engine source that reaches for
// a unit of the interface above it.
#include "QelMessageBox.h"
#include "qel_client.h"
