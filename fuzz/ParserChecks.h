#pragma once
// Runs a StreamParser over a text, reads every getter and checks the
// promises every caller of the parser relies on. Shared by the parser target
// and the rebuild target (which parses what the entry rebuilt).
#include <string>

#include "host/DACAdapter.h"

// Aborts (through FUZZ_CHECK) when a promise is broken.
void ParseAndCheck(const std::string& text, DACAdapterBase* adapter);
