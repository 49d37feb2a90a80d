#include "document/shpType.h"
