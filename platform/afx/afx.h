// The MFC subset in one include.
#pragma once

#include "morvik/afx/afxmt.h"
#include "morvik/afx/carray.h"
#include "morvik/afx/cobject.h"
#include "morvik/afx/cotaskmem.h"
#include "morvik/afx/cstring.h"
#include "morvik/afx/ctime.h"
#include "morvik/afx/extension_module.h"
#include "morvik/afx/message_box.h"
