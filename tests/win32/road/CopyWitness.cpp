// A stand-in copy program for the boot-time Wine check: started by the boot-time road through the
// shell, it leaves its command line in the Windows temporary folder, so the check sees that the
// start really happened.
#include <windows.h>

#include <cstring>

int main() {
    char dir[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryA(dir, MAX_PATH);
    if (n == 0 || n + 40 >= MAX_PATH) return 1;
    char path[MAX_PATH];
    std::strcpy(path, dir);
    std::strcat(path, "\\Temp\\kestrel-copy-witness.txt");
    const HANDLE h = ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    const char* line = ::GetCommandLineA();
    DWORD written = 0;
    ::WriteFile(h, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::CloseHandle(h);
    return 0;
}
