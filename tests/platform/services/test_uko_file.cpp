// File operations: their result codes, the copy, the seek rule and the size limit.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "uko_file.h"
#include "vt_test/temp_env.h"

namespace {

struct File : ::testing::Test {
    vt_test::TempEnv env;
    std::string Path(const std::string& name) const { return env.Tmp() + "/" + name; }
};

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

TEST_F(File, EachOperationAnswersWithItsOwnCode) {
    const std::string file = Path("file");
    const std::string dir = Path("dir");
    const std::string missing = Path("missing/child");
    WriteFile(file, "x");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    WriteFile(dir + "/inside", "y");
    FILE* readOnly = std::fopen(file.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    FILE* opened = reinterpret_cast<FILE*>(0x1);
    char buf[8] = {};
    uint32_t n = 5;
    uint32_t prev = 5;
    uint32_t prevNull = 5;

    struct Case {
        const char* what;
        uint32_t rc;
        uint32_t expected;
    } cases[] = {
        {"directory that exists", UKO_DirCreate(dir.c_str()), 4},
        {"file in a missing folder", UKO_FileCreate(missing.c_str()), 5},
        {"open of a missing file", UKO_FileOpen(missing.c_str(), &opened, "rb"), 7},
        {"write to a read-only stream", UKO_FileWrite(readOnly, "abc", 3), 9},
        {"remove of a missing file", UKO_FileRemove(missing.c_str()), 12},
        {"rmdir of a folder with a file", UKO_DirRemove(dir.c_str()), 13},
        {"seek before the start", UKO_FileSeek(readOnly, 0, -1, &prev), 15},
        {"rename of a missing file", UKO_FileRename(missing.c_str(), Path("new").c_str()), 16},
        {"copy of a missing file", UKO_FileCopy(missing.c_str(), Path("copy").c_str()), 17},
        {"copy into a missing folder", UKO_FileCopy(file.c_str(), missing.c_str()), 17},
        {"readable: missing", UKO_FileReadable(missing.c_str()), 1},
        // A NULL path, handle, buffer or out pointer fails with the operation's code.
        {"NULL directory", UKO_DirCreate(nullptr), 4},
        {"NULL file to create", UKO_FileCreate(nullptr), 5},
        {"NULL path to open", UKO_FileOpen(nullptr, &opened, "rb"), 7},
        {"NULL read handle", UKO_FileRead(nullptr, buf, 1, &n), 8},
        {"NULL read buffer", UKO_FileRead(stdin, nullptr, 1, &n), 8},
        {"NULL write handle", UKO_FileWrite(nullptr, "a", 1), 9},
        {"NULL write buffer", UKO_FileWrite(stdout, nullptr, 1), 9},
        {"NULL file to remove", UKO_FileRemove(nullptr), 12},
        {"NULL directory to remove", UKO_DirRemove(nullptr), 13},
        {"NULL seek handle", UKO_FileSeek(nullptr, 0, 0, &prevNull), 14},
        {"NULL rename source", UKO_FileRename(nullptr, Path("new").c_str()), 16},
        {"NULL rename target", UKO_FileRename(file.c_str(), nullptr), 16},
        {"NULL copy source", UKO_FileCopy(nullptr, Path("copy").c_str()), 17},
        {"NULL copy target", UKO_FileCopy(file.c_str(), nullptr), 17},
        {"NULL file to close", UKO_FileClose(nullptr), 0},
        {"NULL path readable", UKO_FileReadable(nullptr), 1},
        {"NULL path size", UKO_FileSizeGet(nullptr, &n), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.rc, c.expected) << c.what;
    }
    EXPECT_EQ(prevNull, 0u) << "a NULL handle clears the out position";
    EXPECT_EQ(n, 0u) << "a refused read reports no bytes";
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(UKO_FileSeek(readOnly, 0, 0, nullptr), 14u);
    EXPECT_EQ(UKO_FileClose(readOnly), 0u);
    uint32_t size = 5;
    EXPECT_EQ(UKO_FileSizeGet(file.c_str(), nullptr), 1u);
    EXPECT_EQ(UKO_FileSizeGet(missing.c_str(), &size), 1u);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(UKO_FileErrnoGet(), ENOENT);
    EXPECT_EQ(ReadFile(file), "x");
    EXPECT_TRUE(Exists(dir + "/inside"));
}

TEST_F(File, OpenClearsTheHandleOnEveryFailure) {
    FILE* h = reinterpret_cast<FILE*>(0x1);
    EXPECT_EQ(UKO_FileOpen(nullptr, &h, "r"), 7u);
    EXPECT_EQ(h, nullptr);
    h = reinterpret_cast<FILE*>(0x1);
    EXPECT_EQ(UKO_FileOpen(Path("file").c_str(), &h, nullptr), 7u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(UKO_FileOpen(Path("file").c_str(), nullptr, "r"), 7u);
    h = reinterpret_cast<FILE*>(0x1);
    EXPECT_EQ(UKO_FileOpen(Path("missing").c_str(), &h, "r"), 7u);
    EXPECT_EQ(h, nullptr);
}

TEST_F(File, CreateWriteReadAndClose) {
    const std::string file = Path("data");
    EXPECT_EQ(UKO_FileCreate(file.c_str()), 0u);
    EXPECT_EQ(ReadFile(file), "");
    WriteFile(file, "old content");
    EXPECT_EQ(UKO_FileCreate(file.c_str()), 0u);
    EXPECT_EQ(ReadFile(file), "") << "an existing file is emptied";

    FILE* h = nullptr;
    ASSERT_EQ(UKO_FileOpen(file.c_str(), &h, "wb+"), 0u);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(UKO_FileWrite(h, "hello world", 11), 0u);
    EXPECT_EQ(UKO_FileWrite(h, "", 0), 0u);
    uint32_t prev = 0;
    EXPECT_EQ(UKO_FileSeek(h, 0, 6, &prev), 0u);
    EXPECT_EQ(prev, 11u);
    char buf[16] = {};
    uint32_t n = 0;
    EXPECT_EQ(UKO_FileRead(h, buf, sizeof(buf), &n), 0u);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buf, n), "world");
    EXPECT_EQ(UKO_FileRead(h, buf, sizeof(buf), &n), 0u) << "the end of the file is no error";
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(UKO_FileClose(h), 0u);

    // Open positions the stream at the start whatever the mode.
    ASSERT_EQ(UKO_FileOpen(file.c_str(), &h, "ab+"), 0u);
    EXPECT_EQ(std::ftell(h), 0);
    EXPECT_EQ(UKO_FileClose(h), 0u);
}

TEST_F(File, ReadAndCloseFailuresAreToldApartFromSuccess) {
    // A directory opens as a stream on this system, but reading it fails: that is no
    // end of file.
    FILE* h = nullptr;
    ASSERT_EQ(UKO_FileOpen(env.Tmp().c_str(), &h, "r"), 0u);
    char buf[8];
    uint32_t n = 99;
    EXPECT_EQ(UKO_FileRead(h, buf, sizeof(buf), &n), 8u);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(UKO_FileErrnoGet(), EISDIR);
    EXPECT_EQ(UKO_FileClose(h), 0u);

    // A close that cannot flush what was written reports it.
    ASSERT_EQ(UKO_FileOpen("/dev/full", &h, "w"), 0u);
    EXPECT_EQ(UKO_FileWrite(h, "buffered", 8), 0u);
    EXPECT_EQ(UKO_FileClose(h), 10u);
    // An unbuffered write to it falls short at once.
    ASSERT_EQ(UKO_FileOpen("/dev/full", &h, "w"), 0u);
    ASSERT_EQ(setvbuf(h, nullptr, _IONBF, 0), 0);
    EXPECT_EQ(UKO_FileWrite(h, "x", 1), 9u);
    EXPECT_EQ(UKO_FileErrnoGet(), ENOSPC);
    (void)UKO_FileClose(h);
}

TEST_F(File, Copy) {
    const std::string src = Path("src");
    const std::string dest = Path("dest");
    struct Case {
        size_t size;
        bool destExists;
    } cases[] = {{0, false}, {2500, false}, {2500, true}, {1024, false}, {3072, true}, {70001, false}};
    for (const Case& c : cases) {
        const std::string content = Pattern(c.size);
        WriteFile(src, content);
        if (c.destExists) {
            WriteFile(dest, Pattern(5000) + "longer old content");
        } else {
            (void)std::remove(dest.c_str());
        }
        EXPECT_EQ(UKO_FileCopy(src.c_str(), dest.c_str()), 0u) << c.size;
        EXPECT_TRUE(ReadFile(dest) == content) << c.size;
        EXPECT_TRUE(ReadFile(src) == content) << c.size;
    }

    // A copy onto the source itself, by either name, must not empty it.
    const std::string content = Pattern(2500);
    WriteFile(src, content);
    const std::string alias = Path("alias");
    ASSERT_EQ(link(src.c_str(), alias.c_str()), 0);
    EXPECT_EQ(UKO_FileCopy(src.c_str(), src.c_str()), 17u);
    EXPECT_EQ(UKO_FileCopy(src.c_str(), alias.c_str()), 17u);
    EXPECT_TRUE(ReadFile(src) == content);

    // A source that cannot be read is no empty file: the copy fails.
    WriteFile(dest, "keep?");
    EXPECT_EQ(UKO_FileCopy(env.Tmp().c_str(), dest.c_str()), 19u);

    // Writes that cannot be placed: in the copy loop once the stream's buffer flushes,
    // else when the destination is closed.
    WriteFile(src, Pattern(20000));
    EXPECT_EQ(UKO_FileCopy(src.c_str(), "/dev/full"), 18u);
    EXPECT_EQ(UKO_FileErrnoGet(), ENOSPC);
    WriteFile(src, Pattern(100));
    EXPECT_EQ(UKO_FileCopy(src.c_str(), "/dev/full"), 20u);
}

TEST_F(File, Seek) {
    const std::string file = Path("seek");
    WriteFile(file, Pattern(80000));
    FILE* h = nullptr;
    ASSERT_EQ(UKO_FileOpen(file.c_str(), &h, "rb"), 0u);
    ASSERT_EQ(std::fseek(h, 70000, SEEK_SET), 0);
    uint32_t prev = 0;
    EXPECT_EQ(UKO_FileSeek(h, 0, 100, &prev), 0u);
    EXPECT_EQ(prev, 70000u);
    EXPECT_EQ(std::ftell(h), 100);
    EXPECT_EQ(UKO_FileSeek(h, 1, -40, &prev), 0u);
    EXPECT_EQ(prev, 100u);
    EXPECT_EQ(std::ftell(h), 60);
    EXPECT_EQ(UKO_FileSeek(h, 2, -5, &prev), 0u);
    EXPECT_EQ(prev, 60u);
    EXPECT_EQ(std::ftell(h), 79995);

    // Another origin changes nothing.
    prev = 1234;
    EXPECT_EQ(UKO_FileSeek(h, 3, 10, &prev), 0u);
    EXPECT_EQ(prev, 1234u);
    EXPECT_EQ(std::ftell(h), 79995);

    // A failed seek reports 15 after the position was taken.
    EXPECT_EQ(UKO_FileSeek(h, 0, -1, &prev), 15u);
    EXPECT_EQ(prev, 79995u);

    // A position beyond 32 bits cannot be reported: 0 and 14, and the seek is made.
    const off_t far = (off_t{5} << 30) + 3;
    ASSERT_EQ(fseeko(h, far, SEEK_SET), 0);
    prev = 1234;
    EXPECT_EQ(UKO_FileSeek(h, 1, 10, &prev), 14u);
    EXPECT_EQ(prev, 0u);
    EXPECT_EQ(ftello(h), far + 10);
    EXPECT_EQ(UKO_FileClose(h), 0u);

    // On a pipe neither the position nor a seek works: the seek's code wins.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* p = fdopen(fds[0], "r");
    ASSERT_NE(p, nullptr);
    prev = 1234;
    EXPECT_EQ(UKO_FileSeek(p, 0, 0, &prev), 15u);
    EXPECT_EQ(prev, 0u);
    EXPECT_EQ(UKO_FileClose(p), 0u);
    close(fds[1]);
}

TEST_F(File, DirectoriesRenameRemoveAndSizes) {
    const std::string dir = Path("made");
    ASSERT_EQ(UKO_DirCreate(dir.c_str()), 0u);
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(UKO_DirCreate(dir.c_str()), 4u);

    const std::string a = dir + "/a";
    const std::string b = dir + "/b";
    WriteFile(a, Pattern(2500));
    uint32_t size = 0;
    EXPECT_EQ(UKO_FileSizeGet(a.c_str(), &size), 0u);
    EXPECT_EQ(size, 2500u);
    EXPECT_EQ(UKO_FileReadable(a.c_str()), 0u);
    EXPECT_EQ(UKO_FileRename(a.c_str(), b.c_str()), 0u);
    EXPECT_FALSE(Exists(a));
    EXPECT_EQ(UKO_FileSizeGet(b.c_str(), &size), 0u);
    EXPECT_EQ(size, 2500u);

    // A size that does not fit the 32-bit out value is refused, not cut.
    const std::string big = dir + "/big";
    WriteFile(big, "");
    ASSERT_EQ(truncate(big.c_str(), (off_t{1} << 32) + 17), 0);
    size = 5;
    EXPECT_EQ(UKO_FileSizeGet(big.c_str(), &size), 1u);
    EXPECT_EQ(size, 5u);
    ASSERT_EQ(truncate(big.c_str(), 0xFFFFFFFF), 0);
    EXPECT_EQ(UKO_FileSizeGet(big.c_str(), &size), 0u);
    EXPECT_EQ(size, 0xFFFFFFFFu);

    EXPECT_EQ(UKO_FileRemove(b.c_str()), 0u);
    EXPECT_EQ(UKO_FileRemove(big.c_str()), 0u);
    EXPECT_EQ(UKO_DirRemove(dir.c_str()), 0u);
    EXPECT_FALSE(Exists(dir));
}

TEST_F(File, UnreadableFile) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "the superuser reads every file";
    }
    const std::string file = Path("secret");
    WriteFile(file, "s");
    ASSERT_EQ(chmod(file.c_str(), 0200), 0);
    EXPECT_EQ(UKO_FileReadable(file.c_str()), 1u);
    FILE* h = reinterpret_cast<FILE*>(0x1);
    EXPECT_EQ(UKO_FileOpen(file.c_str(), &h, "rb"), 7u);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(UKO_FileErrnoGet(), EACCES);
    EXPECT_EQ(UKO_FileCopy(file.c_str(), Path("copy").c_str()), 17u);
}

}  // namespace
