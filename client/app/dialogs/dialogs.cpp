#include "app/dialogs/dialogs.h"

#include <new>
#include <utility>

#include "app/dialogs/race_name.h"
#include "app/dialogs/show_error.h"
#include "common/error_text.h"
#include "common/site.h"
#include "res/resource.h"

namespace {

// The opening functions set these just before the dialog runs; its procedure reads them.
std::string settingsIpText;
std::string inputTitle;
std::string inputPrompt;
int inputMaxLength = 0;
// What the input dialog hands back when it ends with IDOK.
std::string inputText;

// The input dialog ends with IDOK (text accepted), IDCANCEL, or this when it failed.
constexpr INT_PTR kInputFailed = 0;
constexpr int kInputBufferSize = 32;

INT_PTR CALLBACK inputProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(dialog, inputTitle.c_str());
        SetDlgItemTextA(dialog, IDC_INPUT_PROMPT, inputPrompt.c_str());
        SendDlgItemMessageA(dialog, IDC_INPUT_TEXT, EM_LIMITTEXT, static_cast<WPARAM>(inputMaxLength), 0);
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDOK) {
            char text[kInputBufferSize] = {};
            UINT length = GetDlgItemTextA(dialog, IDC_INPUT_TEXT, text, kInputBufferSize);
            if (length == 0) {
                showError(dialog, "Error reading input.");
                return TRUE;
            }
            if (!isRaceName(std::string_view(text, length))) {
                showError(dialog, "Only alphanumeric characters are allowed.");
                return TRUE;
            }
            INT_PTR end = IDOK;
            try {
                inputText.assign(text, length);
            } catch (const std::bad_alloc&) {
                end = kInputFailed;
            }
            EndDialog(dialog, end);
            return TRUE;
        }
        if (wParam == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

// Settings and About close on OK, Cancel (so Enter and Escape too) and the close box.
bool closesDialog(UINT message, WPARAM wParam) {
    return message == WM_CLOSE || (message == WM_COMMAND && (wParam == IDOK || wParam == IDCANCEL));
}

INT_PTR CALLBACK settingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(dialog, IDC_SETTINGS_IP, settingsIpText.c_str());
        return TRUE;
    }
    if (!closesDialog(message, wParam)) return FALSE;
    EndDialog(dialog, 0);
    return TRUE;
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(dialog, IDC_ABOUT_SITE, siteUrl().c_str());
        SetDlgItemTextA(dialog, IDC_ABOUT_CONTACT, siteUrl().c_str());
        return TRUE;
    }
    if (!closesDialog(message, wParam)) return FALSE;
    EndDialog(dialog, 0);
    return TRUE;
}

}  // namespace

std::string getInput(HINSTANCE instance, HWND owner, const std::string& title, const std::string& prompt,
                     int maxLength) {
    inputTitle = title;
    inputPrompt = prompt;
    inputMaxLength = maxLength;
    inputText.clear();
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_INPUT), owner, inputProc, 0);
    if (result == IDCANCEL) return {};
    if (result != IDOK) throw ErrorText("Input couldn't be retrieved.");
    return std::exchange(inputText, {});
}

INT_PTR showSettings(HINSTANCE instance, HWND owner, const std::string& ipText) {
    settingsIpText = ipText;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, settingsProc, 0);
}

void showAbout(HINSTANCE instance, HWND owner) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProc, 0);
}
