#pragma once
// Seam of the autostart entry, for tests only.

// Replaces the running program's path that entries are written for and matched against
// (NULL puts the real one back). The text must live as long as it is in use.
void uiLoginItemProgramSet(const char* pcPath);
