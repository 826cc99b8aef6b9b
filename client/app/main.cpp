// Entry point of kestrun.exe: the main window and the one message loop.
#include <windows.h>
#include <commctrl.h>

#include "app/main_window.h"
#include "res/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    instanceHandle = instance;

    // Template 102 uses the tab control and the pages the list view: register both classes.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, mainDialogProc, 0);
    if (window == nullptr) return 0;
    ShowWindow(window, showCommand);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) IsDialogMessageA(window, &message);
    return message.message == WM_QUIT ? static_cast<int>(message.wParam) : 0;
}
