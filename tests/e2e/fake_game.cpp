// Stands in for a game: notes how it was started (command line and working folder) in
// "launched.txt" in its working folder, then ends.
#include <windows.h>

#include <cstdio>

int main() {
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    FILE* out = std::fopen("launched.txt", "w");
    if (!out) return 1;
    std::fprintf(out, "%s\n%s\n", GetCommandLineA(), folder);
    std::fclose(out);
    return 0;
}
