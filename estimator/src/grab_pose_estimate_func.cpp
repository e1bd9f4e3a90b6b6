#include "litterpose.h"
