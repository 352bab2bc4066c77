// The MFC subset in one include.
#pragma once

#include "afx/afxmt.h"
#include "afx/carray.h"
#include "afx/cobject.h"
#include "afx/cotaskmem.h"
#include "afx/cstring.h"
#include "afx/ctime.h"
#include "afx/extension_module.h"
#include "afx/message_box.h"
