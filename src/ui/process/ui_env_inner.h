#pragma once
// Seams of the environment look-ups, for tests only.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// Replaces the install folder the running program's location gives (NULL puts the
// real one back). A folder that does not fit the 1024-byte buffer is kept empty.
void uiInstallPathSet(const char* pcPath);

// Replaces the password-database look-up of an account name: fills the name (at most
// size - 1 bytes and a zero) and answers 0, or non-zero when the user has no entry.
// NULL puts the password database back.
typedef uint32_t (*UI_USER_NAME_LOOKUP_PF)(uid_t uid, char* pcName, size_t size);
void uiUserNameLookupSet(UI_USER_NAME_LOOKUP_PF pfnLookup);
