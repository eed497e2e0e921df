// The program that makes a family's precompiled header for the test programs (see
// tests/CMakeLists.txt); it does nothing itself.
int main() { return 0; }
