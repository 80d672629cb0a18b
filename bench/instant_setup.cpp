// A Setup.exe that ends at once: the benchmarks time the stub's own work, not an installer's.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
