// The shared library's own unit: everything else comes from the static parts.
#include "exports/KorvelPLNK.h"
