#pragma once
// The client's one error box: modal, captioned "Error", error icon, OK only.
#include <windows.h>

#include <string>

void showError(HWND owner, const std::string& text);
