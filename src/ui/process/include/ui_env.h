#pragma once
// Where the front end runs: the account name of its user, its install folder and the
// folder derived from it.

#include <cstddef>
#include <cstdint>

// Size of the account-name field of the port request.
constexpr size_t UI_LOGIN_USER_SIZE = 32;
// Size of an install-folder buffer.
constexpr size_t UI_INSTALL_PATH_SIZE = 1024;

// The account name of the process's real user into a 32-byte field. A name of 32 bytes
// or more fills the field without a terminating zero: readers of the field bound it by
// its size. 0, or 1 for a null field or a user the password database does not know
// (the field is then cleared).
uint32_t UI_LoginUser_Get(char* pcBuf);

// The folder of the running program into a 1024-byte buffer, without a trailing '/'.
// 0, or 1 with the empty text when it cannot be found or does not fit.
uint32_t UI_Get_InstallPath(char* pcBuf);

// The install folder followed by "/config", in a process-wide 1024-byte buffer.
const char* UI_ConfigDir_Get();
