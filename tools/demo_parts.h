// The sample host's additions, one function each, called from main.
#pragma once

class CBaseDoc;
class CBaseView;

// Adds a strip below the page with a filled text and a plain text in DejaVu
// Sans; false when a text could not be laid out.
bool AddDemoTexts(CBaseDoc& doc, CBaseView& view);
