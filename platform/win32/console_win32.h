#pragma once
// The program is a windowed one, so Windows gives it no console of its own; the modes that
// print borrow the console of the command line that started them.

namespace fw {

// Attaches to the parent process's console, when it has one, and sends standard output and
// standard error there unless they already go somewhere (a pipe or a file).
void AttachParentConsole();

}  // namespace fw
