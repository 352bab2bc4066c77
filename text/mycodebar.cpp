#include "text/mycodebar.h"

CMyCodebar::CMyCodebar() = default;
CMyCodebar::~CMyCodebar() = default;
