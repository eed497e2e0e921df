#pragma once
// File operations: the operating system's file and directory calls and the standard
// buffered streams behind functions that answer with small numbered result codes
// instead of errno values. They keep no state, log nothing and leave errno as the
// failed call set it: read it with UKO_FileErrnoGet right after the call.
//
// A missing path, handle, buffer or out pointer fails with the operation's own code
// (a given out pointer is cleared first). Only UKO_FileClose accepts a NULL file, as
// the closing of a file that was never opened.

#include <cstdint>
#include <cstdio>

// Result codes: 0 is success, each operation has its own failure codes.
constexpr uint32_t UKO_FILE_ERR_DIR_CREATE = 4;
constexpr uint32_t UKO_FILE_ERR_CREATE = 5;
constexpr uint32_t UKO_FILE_ERR_OPEN = 7;
constexpr uint32_t UKO_FILE_ERR_READ = 8;
constexpr uint32_t UKO_FILE_ERR_WRITE = 9;
constexpr uint32_t UKO_FILE_ERR_CLOSE = 10;
constexpr uint32_t UKO_FILE_ERR_REMOVE = 12;
constexpr uint32_t UKO_FILE_ERR_DIR_REMOVE = 13;
constexpr uint32_t UKO_FILE_ERR_TELL = 14;  // the current position could not be read
constexpr uint32_t UKO_FILE_ERR_SEEK = 15;
constexpr uint32_t UKO_FILE_ERR_RENAME = 16;
constexpr uint32_t UKO_FILE_ERR_COPY_OPEN = 17;
constexpr uint32_t UKO_FILE_ERR_COPY_WRITE = 18;
constexpr uint32_t UKO_FILE_ERR_COPY_READ = 19;
constexpr uint32_t UKO_FILE_ERR_COPY_CLOSE = 20;

// Seek origins.
constexpr uint32_t UKO_FILE_SEEK_SET = 0;
constexpr uint32_t UKO_FILE_SEEK_CUR = 1;
constexpr uint32_t UKO_FILE_SEEK_END = 2;

// mkdir with mode 0700: 0 or 4.
uint32_t UKO_DirCreate(const char* pcPath);
// Creates the file, or empties an existing one ("wb+"), and closes it: 0 or 5.
uint32_t UKO_FileCreate(const char* pcPath);
// Opens a stream with the standard mode text, positioned at the start: 0 and the
// handle, or 7 with *ppFile NULL.
uint32_t UKO_FileOpen(const char* pcPath, FILE** ppFile, const char* pcMode);
// Reads up to uiCount bytes: 0 and the bytes read (fewer at the end of the file); 8
// when the stream reports a read error, with the bytes read before it.
uint32_t UKO_FileRead(FILE* pFile, void* pBuf, uint32_t uiCount, uint32_t* puiRead);
// 0, or 9 when fewer bytes were written.
uint32_t UKO_FileWrite(FILE* pFile, const void* pBuf, uint32_t uiCount);
// 0 (also for NULL), or 10 when the close reports an error.
uint32_t UKO_FileClose(FILE* pFile);
uint32_t UKO_FileRemove(const char* pcPath);  // remove: 0 or 12
uint32_t UKO_DirRemove(const char* pcPath);   // rmdir: 0 or 13
// Stores the position before the seek in *puiPrevPos (0 and the code 14 when it cannot
// be read or does not fit in 32 bits), then seeks by iOffset from the origin: 15 when
// the seek fails. Any other origin returns 0 and changes nothing.
uint32_t UKO_FileSeek(FILE* pFile, uint32_t uiOrigin, int32_t iOffset, uint32_t* puiPrevPos);
uint32_t UKO_FileRename(const char* pcOldPath, const char* pcNewPath);  // rename: 0 or 16
// Copies in blocks of 1024 bytes into a destination created or emptied for it: 0; 17
// when a file cannot be opened or positioned, or both paths name the same file; 18
// when a write falls short; 19 when reading the source fails; 20 when a close fails.
// A copy that fails part-way leaves the bytes written so far.
uint32_t UKO_FileCopy(const char* pcSrcPath, const char* pcDestPath);
// 0 when readable, 1 when not (and for NULL).
uint32_t UKO_FileReadable(const char* pcPath);
// 0 and the size, or 1 (missing path, NULL, or a size above 0xFFFFFFFF).
uint32_t UKO_FileSizeGet(const char* pcPath, uint32_t* puiSize);
// The calling thread's errno.
int32_t UKO_FileErrnoGet();
