// Not built: the engine check's example of an engine source that reaches for
// the native window system.
#include <gtk/gtk.h>
#include <vector>
