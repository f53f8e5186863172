// Not built: the engine check's example of an engine source that reaches for
// a window of the toolkit.
#include <wx/frame.h>
#include <wx/string.h>
