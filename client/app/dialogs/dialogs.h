#pragma once
// The program's small modal dialogs: "Add race" input, Settings and About.
#include <windows.h>

#include <string>

// Runs the input dialog; the accepted text, or "" when the user cancelled.
// Throws ErrorText("Input couldn't be retrieved.") when the dialog can't be run.
std::string getInput(HINSTANCE instance, HWND owner, const std::string& title, const std::string& prompt,
                     int maxLength);

// Shows the client's own address (or "not detected"); returns the dialog's end code.
INT_PTR showSettings(HINSTANCE instance, HWND owner, const std::string& ipText);

void showAbout(HINSTANCE instance, HWND owner);
