#pragma once
// The program's dialog templates.

#include "platform/ui/dialog_template.h"

namespace fw::res {

const DialogTemplate& AboutDialogTemplate();    // 100
const DialogTemplate& MainDialogTemplate();     // 102
const DialogTemplate& BetaDirDialogTemplate();  // 129
// The template with resource number `id`, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace fw::res
