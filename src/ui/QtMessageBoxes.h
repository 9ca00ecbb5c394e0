#pragma once

// Shows the program's message boxes as Qt message boxes over the active window.
void InstallQtMessageBoxes();
