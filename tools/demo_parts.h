// Parts of the sample host kept in files of their own, one function each.
#pragma once

#include <string>
#include <vector>

class CBaseDoc;
class CBaseShape;
class CBaseView;

// Shapes built around the origin that the host places in cells of its own.
std::vector<CBaseShape*> MakeDemoBarcodes();
// Writes into the output folder; false when what it writes is missing.
bool DemoVarText(const std::string& dir);
// Adds a strip below the page with a filled text and a plain text in DejaVu
// Sans; false when a text could not be laid out.
bool AddDemoTexts(CBaseDoc& doc, CBaseView& view);
