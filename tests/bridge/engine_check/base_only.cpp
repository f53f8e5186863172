// Not built: the engine check's example of a source that includes only what
// the engine may; the cases that use it fail on their links alone.
#include "kes_result.h"
#include <wx/thread.h>
