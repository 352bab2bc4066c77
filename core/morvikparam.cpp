#include "morvik/core/morvikparam.h"

CMorvikParam* CMorvikParam::Instance() {
    // A function-local static: built once even when several threads make the
    // first call together, destroyed with the library's other statics.
    static CMorvikParam instance;
    return &instance;
}
