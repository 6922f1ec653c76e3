#include "QVHostCallScope.h"

thread_local int CQVHostCallScope::depth = 0;
