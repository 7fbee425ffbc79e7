#include "ll.h"
