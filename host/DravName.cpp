#include "host/DravName.h"

int ValidateDRAVName(const char* name) { return drav::name::CheckName(name); }
