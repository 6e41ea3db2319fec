#pragma once
// What both hosts derive from a template for people who use the keyboard or a screen reader:
// where the focus goes when the control holding it is disabled, and what names a control.

#include <functional>
#include <string>
#include <string_view>

#include "platform/ui/dialog_template.h"

namespace fw {

// The control that takes the focus when `disabledId`, which holds it, is disabled: the nearest
// push button in tab order that `canFocus` accepts, else the nearest tab stop it accepts (a
// step forward before the same step back); kNoControlId when nothing can take it.
int FocusAfterDisabling(const DialogTemplate& dialogTemplate, int disabledId,
                        const std::function<bool(int id)>& canFocus);

// The control's accessible name: the text of the static text right before it in the template,
// as a screen reader on Windows reads a dialog; a push button or check box is named by its own
// text. Mnemonic markers are removed. Empty for static texts, group boxes and icons.
std::string AccessibleName(const DialogTemplate& dialogTemplate, int id);

// The static text that names control `id` (see AccessibleName); nullptr when there is none.
const ControlTemplate* LabelOf(const DialogTemplate& dialogTemplate, int id);

// "&Check" -> "Check", "&&" -> "&".
std::string WithoutMnemonic(std::string_view text);

}  // namespace fw
