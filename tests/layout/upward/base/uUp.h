#include "log/uLog.h"  // a floor below reaching up
