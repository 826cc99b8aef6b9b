#include "app/dialogs/show_error.h"

void showError(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), "Error", MB_ICONERROR | MB_OK);
}
