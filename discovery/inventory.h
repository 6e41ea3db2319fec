#pragma once
// What is installed: the names of the game systems whose templates sit in the install folder.
// The inventory itself is CUpdateDownloaderDlg::TakeInventory (discovery/inventory.cpp).

#include <string_view>

#include "session/update_entry.h"

namespace fw {

// The executable whose presence counts as one more installed "system", and that name.
inline constexpr std::string_view kProductExecutable = "Fablewright.exe";
inline constexpr std::string_view kProductSystemName = "Fablewright";
// Template files and where they name their game system.
inline constexpr std::string_view kTemplatePattern = "*.gsi";
inline constexpr std::string_view kTemplateSection = "Configuration";
inline constexpr std::string_view kTemplateKey = "GameSystem";
// The profile reader's buffer, terminator included: names are cut to 255 characters.
inline constexpr std::size_t kTemplateNameBuffer = 256;

// Whether some entry of `list` equals `name` without regard to case (EqualsNoCase: only ASCII
// letters fold, the bytes of multibyte characters compare exactly).
bool ContainsName(const TextList& list, std::string_view name);

}  // namespace fw
