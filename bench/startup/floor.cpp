// A minimal Win32 dialog program: it shows an empty window and waits to be closed. Its
// start-up time and memory are what Wine itself costs a dialog program.
#include <windows.h>

namespace {
INT_PTR CALLBACK floorProc(HWND window, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return TRUE;
    default:
        return FALSE;
    }
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(1), nullptr, floorProc, 0);
    if (!window) return 1;
    ShowWindow(window, showCommand);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) IsDialogMessageA(window, &message);
    return 0;
}
