#pragma once
// Start at login: the front end as an autostart entry of the user's desktop session,
// "VanTrelo.desktop" in $XDG_CONFIG_HOME/autostart ($HOME/.config/autostart when that
// variable is unset, empty or not an absolute path), whose command is the running
// program's absolute path. No log lines.

// 0 removes the entry, 1 adds it, any other value does nothing; always 0.
int UI_LoginItem_Set(int iEnable);

// Writes the entry (a second add rewrites the same entry); the autostart folder is made
// when missing (mode 0700). Nothing happens when the folder or the program's path cannot
// be found.
void UI_LoginItem_Add(void);

// Deletes every entry of the autostart folder whose command runs this program, whatever
// its file name.
void UI_LoginItem_Remove(void);
