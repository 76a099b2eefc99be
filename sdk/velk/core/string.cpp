// The process-wide empty text.
#include "velk/core/string.h"

namespace velk {

const char empty_cstr[1] = {0};

} // namespace velk
