// Holds a file open as a virus scanner or a backup agent does: reading and
// writing shared, deleting not, so the file cannot be replaced by a rename.
// Prints "holding" once the file is open, then holds it for SECONDS.
//   hold_file PATH SECONDS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: hold_file PATH SECONDS\n", stderr);
        return 2;
    }
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_file: cannot open %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    std::puts("holding");
    std::fflush(stdout);
    Sleep(DWORD(std::atoi(argv[2])) * 1000);
    CloseHandle(file);
    return 0;
}
