#pragma once
// The operating system's language as a language identifier (a Windows LCID: 2052
// Chinese, 1033 English ...), taken at start-up before the stored interface language
// is known, so that the first boxes already speak the user's language.

// Loads the language texts for the system language (the identifier of the system
// locale's language; simplified or traditional Chinese as the user's preferred language
// says on macOS, simplified elsewhere) from the program's folder and logs the choice.
void GetSystemLanguage();
