#include "app/dialogs/dialogs.h"

#include <memory>
#include <new>

#include "app/dialogs/race_name.h"
#include "app/dialogs/show_error.h"
#include "common/error_text.h"
#include "res/resource.h"

namespace {

// The opening functions set these just before the dialog runs; its procedure reads them.
std::string settingsIpText;
std::string inputTitle;
std::string inputPrompt;
int inputMaxLength = 0;

// End codes of the input dialog besides the address of the handed-over text.
constexpr INT_PTR kInputFailed = 0;
constexpr INT_PTR kInputCancelled = -2;
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
            std::string* handOver = nullptr;
            try {
                handOver = new std::string(text, length);
            } catch (const std::bad_alloc&) {
                handOver = nullptr;
            }
            EndDialog(dialog, handOver ? reinterpret_cast<INT_PTR>(handOver) : kInputFailed);
            return TRUE;
        }
        if (wParam == IDCANCEL) {
            EndDialog(dialog, kInputCancelled);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, kInputCancelled);
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
    if (message == WM_INITDIALOG) return TRUE;
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
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_INPUT), owner, inputProc, 0);
    if (result == kInputFailed || result == -1) throw ErrorText("Input couldn't be retrieved.");
    if (result == kInputCancelled) return {};
    std::unique_ptr<std::string> handOver(reinterpret_cast<std::string*>(result));
    return std::move(*handOver);
}

INT_PTR showSettings(HINSTANCE instance, HWND owner, const std::string& ipText) {
    settingsIpText = ipText;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETTINGS), owner, settingsProc, 0);
}

void showAbout(HINSTANCE instance, HWND owner) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProc, 0);
}
