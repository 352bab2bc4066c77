#include "history/undo_base.h"

#include "halder/basedoc.h"

// A document without an editing history has nowhere to keep a record.
void CBaseDoc::AddUndo(CUND_Base* record) {
    if (record != nullptr) {
        record->Destroy();
        delete record;
    }
}
