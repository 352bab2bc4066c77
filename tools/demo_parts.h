// Parts of the sample host kept in files of their own, one function each.
#pragma once

#include <string>
#include <vector>

class CBaseShape;

// Shapes built around the origin that the host places in cells of its own.
std::vector<CBaseShape*> MakeDemoBarcodes();
// Writes into the output folder; false when what it writes is missing.
bool DemoVarText(const std::string& dir);
// A hatch-filled text and a plain text, placed the same way.
std::vector<CBaseShape*> MakeDemoTexts();
