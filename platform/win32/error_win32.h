#pragma once
// The text of the calling thread's last Windows error.

#include <string>

namespace fw {

std::string LastErrorText();

}  // namespace fw
