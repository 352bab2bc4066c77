// Shapes that parts of the library add to the sample host's page, each
// built around the origin; the host places them in cells of its own.
#pragma once

#include <vector>

class CBaseShape;

std::vector<CBaseShape*> MakeDemoBarcodes();
