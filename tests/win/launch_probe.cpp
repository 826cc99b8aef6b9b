// Stands in for a game: writes its command line and working folder to "launch.txt" in
// the working folder and ends. Written under another name first, so a reader never sees
// half a file.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::string report = std::string(GetCommandLineA()) + "\n" + folder + "\n";
    FILE* file = std::fopen("launch.tmp", "wb");
    if (file == nullptr) return 1;
    std::fwrite(report.data(), 1, report.size(), file);
    std::fclose(file);
    return MoveFileA("launch.tmp", "launch.txt") ? 0 : 2;
}
