#include "qeldebug.h"
#include "qeldebug.h"
