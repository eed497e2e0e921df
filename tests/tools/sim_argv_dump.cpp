// Test helper standing in for the update program: writes its argument vector, one
// element per line, hex-encoded, to the file named by SIM_ARGV_DUMP_FILE.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const char* path = std::getenv("SIM_ARGV_DUMP_FILE");
    if (path == nullptr) return 3;
    FILE* f = std::fopen(path, "w");
    if (f == nullptr) return 4;
    for (int i = 0; i < argc; ++i) {
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(argv[i]); *p; ++p)
            std::fprintf(f, "%02x", *p);
        std::fputc('\n', f);
    }
    std::fclose(f);
    return 7;
}
