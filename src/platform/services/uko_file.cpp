// File operations over the system calls and the standard buffered streams. Nothing is
// logged and errno is left as the failing call set it, so that the caller can read the
// cause with UKO_FileErrnoGet.

#include "uko_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr size_t kCopyBlock = 1024;
constexpr uint64_t kMax32 = 0xFFFFFFFF;

// Opens a stream positioned at its start; NULL when either step fails (a stream that
// was opened is closed again).
FILE* OpenAtStart(const char* pcPath, const char* pcMode) {
    FILE* f = std::fopen(pcPath, pcMode);
    if (f != nullptr && std::fseek(f, 0, SEEK_SET) != 0) {
        int err = errno;
        (void)std::fclose(f);
        errno = err;
        return nullptr;
    }
    return f;
}

}  // namespace

uint32_t UKO_DirCreate(const char* pcPath) {
    if (pcPath == nullptr) {
        return UKO_FILE_ERR_DIR_CREATE;
    }
    return mkdir(pcPath, 0700) == 0 ? 0 : UKO_FILE_ERR_DIR_CREATE;
}

uint32_t UKO_FileCreate(const char* pcPath) {
    if (pcPath == nullptr) {
        return UKO_FILE_ERR_CREATE;
    }
    FILE* f = std::fopen(pcPath, "wb+");
    if (f == nullptr) {
        return UKO_FILE_ERR_CREATE;
    }
    return std::fclose(f) == 0 ? 0 : UKO_FILE_ERR_CREATE;
}

uint32_t UKO_FileOpen(const char* pcPath, FILE** ppFile, const char* pcMode) {
    if (ppFile != nullptr) {
        *ppFile = nullptr;
    }
    if (pcPath == nullptr || ppFile == nullptr || pcMode == nullptr) {
        return UKO_FILE_ERR_OPEN;
    }
    FILE* f = OpenAtStart(pcPath, pcMode);
    if (f == nullptr) {
        return UKO_FILE_ERR_OPEN;
    }
    *ppFile = f;
    return 0;
}

uint32_t UKO_FileRead(FILE* pFile, void* pBuf, uint32_t uiCount, uint32_t* puiRead) {
    if (puiRead != nullptr) {
        *puiRead = 0;
    }
    if (pFile == nullptr || pBuf == nullptr || puiRead == nullptr) {
        return UKO_FILE_ERR_READ;
    }
    size_t n = std::fread(pBuf, 1, uiCount, pFile);
    *puiRead = static_cast<uint32_t>(n);
    // A short count is the end of the file unless the stream says the read failed: a
    // caller must not take a failed read for a complete one.
    return n < uiCount && std::ferror(pFile) != 0 ? UKO_FILE_ERR_READ : 0;
}

uint32_t UKO_FileWrite(FILE* pFile, const void* pBuf, uint32_t uiCount) {
    if (pFile == nullptr || pBuf == nullptr) {
        return UKO_FILE_ERR_WRITE;
    }
    return std::fwrite(pBuf, 1, uiCount, pFile) == uiCount ? 0 : UKO_FILE_ERR_WRITE;
}

uint32_t UKO_FileClose(FILE* pFile) {
    if (pFile == nullptr) {
        return 0;
    }
    return std::fclose(pFile) == 0 ? 0 : UKO_FILE_ERR_CLOSE;
}

uint32_t UKO_FileRemove(const char* pcPath) {
    if (pcPath == nullptr) {
        return UKO_FILE_ERR_REMOVE;
    }
    return std::remove(pcPath) == 0 ? 0 : UKO_FILE_ERR_REMOVE;
}

uint32_t UKO_DirRemove(const char* pcPath) {
    if (pcPath == nullptr) {
        return UKO_FILE_ERR_DIR_REMOVE;
    }
    return rmdir(pcPath) == 0 ? 0 : UKO_FILE_ERR_DIR_REMOVE;
}

uint32_t UKO_FileSeek(FILE* pFile, uint32_t uiOrigin, int32_t iOffset, uint32_t* puiPrevPos) {
    if (puiPrevPos != nullptr && pFile == nullptr) {
        *puiPrevPos = 0;
    }
    if (pFile == nullptr || puiPrevPos == nullptr) {
        return UKO_FILE_ERR_TELL;
    }
    int whence = 0;
    switch (uiOrigin) {
        case UKO_FILE_SEEK_SET:
            whence = SEEK_SET;
            break;
        case UKO_FILE_SEEK_CUR:
            whence = SEEK_CUR;
            break;
        case UKO_FILE_SEEK_END:
            whence = SEEK_END;
            break;
        default:
            return 0;
    }
    uint32_t rc = 0;
    off_t pos = ftello(pFile);
    // A position beyond 32 bits cannot be told through the 32-bit out value: its low
    // half would name a different place in the file.
    if (pos < 0 || static_cast<uint64_t>(pos) > kMax32) {
        *puiPrevPos = 0;
        rc = UKO_FILE_ERR_TELL;
    } else {
        *puiPrevPos = static_cast<uint32_t>(pos);
    }
    if (fseeko(pFile, static_cast<off_t>(iOffset), whence) != 0) {
        rc = UKO_FILE_ERR_SEEK;
    }
    return rc;
}

uint32_t UKO_FileRename(const char* pcOldPath, const char* pcNewPath) {
    if (pcOldPath == nullptr || pcNewPath == nullptr) {
        return UKO_FILE_ERR_RENAME;
    }
    return std::rename(pcOldPath, pcNewPath) == 0 ? 0 : UKO_FILE_ERR_RENAME;
}

uint32_t UKO_FileCopy(const char* pcSrcPath, const char* pcDestPath) {
    if (pcSrcPath == nullptr || pcDestPath == nullptr) {
        return UKO_FILE_ERR_COPY_OPEN;
    }
    FILE* src = OpenAtStart(pcSrcPath, "rb");
    if (src == nullptr) {
        return UKO_FILE_ERR_COPY_OPEN;
    }
    // Opening the destination empties it: when it is the source itself (under this or
    // another name), the content would be gone before a byte was read.
    struct stat srcStat {};
    struct stat destStat {};
    if (fstat(fileno(src), &srcStat) == 0 && stat(pcDestPath, &destStat) == 0 &&
        srcStat.st_dev == destStat.st_dev && srcStat.st_ino == destStat.st_ino) {
        (void)std::fclose(src);
        errno = EINVAL;
        return UKO_FILE_ERR_COPY_OPEN;
    }
    FILE* dest = OpenAtStart(pcDestPath, "wb+");
    if (dest == nullptr) {
        int err = errno;
        (void)std::fclose(src);
        errno = err;
        return UKO_FILE_ERR_COPY_OPEN;
    }
    uint32_t rc = 0;
    char buf[kCopyBlock];
    for (;;) {
        size_t n = std::fread(buf, 1, sizeof(buf), src);
        if (n == 0) {
            // The end of the source, or a read that failed: only the first is a copy.
            if (std::ferror(src) != 0) {
                rc = UKO_FILE_ERR_COPY_READ;
            }
            break;
        }
        if (std::fwrite(buf, 1, n, dest) != n) {
            rc = UKO_FILE_ERR_COPY_WRITE;
            break;
        }
    }
    int err = errno;
    bool srcClosed = std::fclose(src) == 0;
    bool destClosed = std::fclose(dest) == 0;
    if (rc != 0) {
        errno = err;
        return rc;
    }
    return srcClosed && destClosed ? 0 : UKO_FILE_ERR_COPY_CLOSE;
}

uint32_t UKO_FileReadable(const char* pcPath) {
    if (pcPath == nullptr) {
        return 1;
    }
    return access(pcPath, R_OK) == 0 ? 0 : 1;
}

uint32_t UKO_FileSizeGet(const char* pcPath, uint32_t* puiSize) {
    if (pcPath == nullptr || puiSize == nullptr) {
        return 1;
    }
    struct stat st {};
    if (stat(pcPath, &st) != 0) {
        return 1;
    }
    // The 32-bit out value cannot carry a larger size; its low half would be wrong.
    if (static_cast<uint64_t>(st.st_size) > kMax32) {
        errno = EOVERFLOW;
        return 1;
    }
    *puiSize = static_cast<uint32_t>(st.st_size);
    return 0;
}

int32_t UKO_FileErrnoGet() { return errno; }
