#pragma once
// The client update as the main window drives it: whether the gateway offers a newer
// client, whether there is room for the package, the word size, and the request that
// hands a downloaded package to the promote service, which starts the update program.
// None of them keeps state.

#include <cstddef>
#include <cstdint>

// The version of this front end, compared with the gateway's client version.
constexpr char UI_LOCAL_VERSION[] = "7.0.2.33";
// Size of the buffer the version text is parsed in.
constexpr size_t UI_VERSION_TEXT_SIZE = 128;

// Free space the update needs, in MiB, in the folder the package is downloaded to.
constexpr uint64_t UI_UPDATE_DISK_NEED_MIB = 200;
constexpr char UI_UPDATE_DOWNLOAD_DIR[] = "/tmp";

// The update request's record as the promote service reads it. Every text is
// zero-terminated and zero-padded within its field; the record is cleared before it is
// filled.
struct UIUPDATE_START_S {
    char acUpdateProgram[1024];  // path of the update program
    char acPackagePath[1024];    // path of the downloaded package
    char acDownloadUrl[256];     // the URL the package came from
    char acLoginName[32];        // account of the user who runs the front end
    uint8_t ucZero;
};
static_assert(sizeof(UIUPDATE_START_S) == 2337, "the update record is 2337 bytes on the wire");
static_assert(offsetof(UIUPDATE_START_S, acPackagePath) == 1024 &&
                  offsetof(UIUPDATE_START_S, acDownloadUrl) == 2048 &&
                  offsetof(UIUPDATE_START_S, acLoginName) == 2304 &&
                  offsetof(UIUPDATE_START_S, ucZero) == 2336,
              "wire offsets of the update record");

// 1 when the gateway's client version is greater than the local one, comparing the
// most significant halves ((major << 16) | minor) first and the least significant ones
// ((build << 16) | revision) only when those are equal; 0 otherwise.
uint32_t UI_Update_Check(uint32_t uiGatewayMs, uint32_t uiGatewayLs);

// 1 when the download folder has at least UI_UPDATE_DISK_NEED_MIB free for an ordinary
// user, 0 when it has less or cannot be measured.
uint32_t UI_Disk_Check();

// 1: the client is a 64-bit program.
uint32_t UI_System_Is64Bit();

// Sends length bytes of the record (a UIUPDATE_START_S and its 2337 bytes), followed by
// one zero byte, to the promote service (code 0x1000E on the promote connection). No
// reply is read. 0 when the whole packet was sent; 1 for a null record, no promote
// connection, no memory or a failed send.
uint32_t UI_Update_Start(const void* pRecord, uint32_t uiLength);
