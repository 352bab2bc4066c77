// Parts of the sample host kept in files of their own; each takes the output
// folder and returns false when what it writes is missing.
#pragma once

#include <string>

bool DemoVarText(const std::string& dir);
