// The shared library's own unit: everything else comes from the static parts.
#include "driver/KorvelPLNK.h"
