// Request scheduler. (stub)
#include "marovin_core.h"

Protocol *ComCommunication(void) { return nullptr; }
