#include "support/DateTime.h"

#include "os/Process.h"

TDateTime Now() { return os::LocalNow(); }
