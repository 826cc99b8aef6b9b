// The shell's modal dialogs and the installation lookup, with real dialogs and registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app_path.h"
#include "wire/games.h"
#include "app/dialogs/dialogs.h"
#include "common/error_text.h"
#include "kestrun_site.h"
#include "res/resource.h"
#include "window_driver.h"
#include "wine_registry.h"

namespace {

HINSTANCE self() { return GetModuleHandleA(nullptr); }

// Runs `drive` on a second thread while the calling thread runs `dialog` (modal).
template <typename Dialog, typename Drive>
auto withDriver(Dialog&& dialog, Drive&& drive) {
    std::thread driver(std::forward<Drive>(drive));
    auto result = dialog();
    driver.join();
    return result;
}

std::string runInput(const std::function<void(HWND dialog)>& drive, int maxLength = 16) {
    return withDriver([&] { return getInput(self(), nullptr, "Add race", "Race name:", maxLength); },
                      [&] {
                          HWND dialog = waitForTopLevel(GetCurrentProcessId(), "#32770", "Add race");
                          ASSERT_NE(dialog, nullptr) << "the input dialog did not appear";
                          drive(dialog);
                      });
}

// The error box owned by the input dialog: its message, then dismissed with OK.
std::string takeErrorBox(HWND dialog) {
    HWND box = waitForOwnedDialog(dialog, "Error");
    if (box == nullptr) return "(no error box)";
    std::string text = messageBoxText(box);
    clickButton(GetDlgItem(box, IDOK));
    pollUntil([&] { return windowGone(box); });
    return text;
}

TEST(InputDialog, ShowsTitleAndPromptAndReturnsTheTypedTextOnOk) {
    std::string prompt;
    std::string result = runInput([&](HWND dialog) {
        prompt = controlText(dialog, IDC_INPUT_PROMPT);
        typeText(GetDlgItem(dialog, IDC_INPUT_TEXT), "Bob's race-1_x");
        pollUntil([&] { return controlText(dialog, IDC_INPUT_TEXT) == "Bob's race-1_x"; });
        clickButton(GetDlgItem(dialog, IDOK));
    });
    EXPECT_EQ(prompt, "Race name:");
    EXPECT_EQ(result, "Bob's race-1_x");
}

TEST(InputDialog, EnterInTheFieldActsAsOk) {
    std::string result = runInput([](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_INPUT_TEXT);
        typeText(edit, "   ");
        pollUntil([&] { return controlText(dialog, IDC_INPUT_TEXT) == "   "; });
        pressKey(edit, VK_RETURN);
    });
    EXPECT_EQ(result, "   ");  // taken as typed: spaces only pass
}

TEST(InputDialog, TakesAtMostTheLimitWhenTypedOrPasted) {
    std::string typed = runInput([](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_INPUT_TEXT);
        typeText(edit, "abcdefghijklmnopqrstuvwxyz");
        pressKey(edit, VK_RETURN);  // posted after the characters, so handled after them
    });
    EXPECT_EQ(typed, "abcdefghijklmnop");

    std::string pasted = runInput([](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_INPUT_TEXT);
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        const char text[] = "0123456789ABCDEFGHIJ";
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof text);
        memcpy(GlobalLock(memory), text, sizeof text);
        GlobalUnlock(memory);
        SetClipboardData(CF_TEXT, memory);
        CloseClipboard();
        PostMessageA(edit, WM_PASTE, 0, 0);
        pollUntil([&] { return !controlText(dialog, IDC_INPUT_TEXT).empty(); });
        clickButton(GetDlgItem(dialog, IDOK));
    });
    EXPECT_EQ(pasted, "0123456789ABCDEF");
}

TEST(InputDialog, CancelEscapeAndCloseBoxGiveAnEmptyResult) {
    struct Way {
        const char* name;
        void (*close)(HWND dialog);
    };
    const Way ways[] = {
        {"Cancel", [](HWND d) { clickButton(GetDlgItem(d, IDCANCEL)); }},
        {"Escape", [](HWND d) { pressKey(GetDlgItem(d, IDC_INPUT_TEXT), VK_ESCAPE); }},
        {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Way& way : ways) {
        std::string result = runInput([&](HWND dialog) {
            typeText(GetDlgItem(dialog, IDC_INPUT_TEXT), "Test1");
            pollUntil([&] { return controlText(dialog, IDC_INPUT_TEXT) == "Test1"; });
            way.close(dialog);
        });
        EXPECT_EQ(result, "") << way.name;
    }
}

TEST(InputDialog, RejectedInputShowsItsErrorAndKeepsTheDialogOpen) {
    std::string emptyError, badError, textAfter;
    bool openAfterEmpty = false, openAfterBad = false;
    std::string result = runInput([&](HWND dialog) {
        HWND edit = GetDlgItem(dialog, IDC_INPUT_TEXT);
        clickButton(GetDlgItem(dialog, IDOK));
        emptyError = takeErrorBox(dialog);
        openAfterEmpty = IsWindow(dialog) && IsWindowVisible(dialog);

        typeText(edit, "Race #1");
        pollUntil([&] { return controlText(dialog, IDC_INPUT_TEXT) == "Race #1"; });
        clickButton(GetDlgItem(dialog, IDOK));
        badError = takeErrorBox(dialog);
        openAfterBad = IsWindow(dialog) && IsWindowVisible(dialog);
        textAfter = controlText(dialog, IDC_INPUT_TEXT);

        SendMessageA(edit, EM_SETSEL, 0, -1);
        typeText(edit, "Race 1");
        pollUntil([&] { return controlText(dialog, IDC_INPUT_TEXT) == "Race 1"; });
        clickButton(GetDlgItem(dialog, IDOK));
    });
    EXPECT_EQ(emptyError, "Error reading input.");
    EXPECT_TRUE(openAfterEmpty);
    EXPECT_EQ(badError, "Only alphanumeric characters are allowed.");
    EXPECT_TRUE(openAfterBad);
    EXPECT_EQ(textAfter, "Race #1");
    EXPECT_EQ(result, "Race 1");
}

TEST(InputDialog, RejectsPunctuationAndAccentedLetters) {
    for (const char* name : {"a.b", "v1,0", "caf\xe9", "x/y", "\"q\""}) {
        std::string error;
        runInput([&](HWND dialog) {
            HWND edit = GetDlgItem(dialog, IDC_INPUT_TEXT);
            SetWindowTextA(edit, name);
            clickButton(GetDlgItem(dialog, IDOK));
            error = takeErrorBox(dialog);
            clickButton(GetDlgItem(dialog, IDCANCEL));
        });
        EXPECT_EQ(error, "Only alphanumeric characters are allowed.") << name;
    }
}

TEST(InputDialog, MissingTemplateIsReported) {
    // A module without the template: the dialog can't be created.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    try {
        getInput(kernel, nullptr, "Add race", "Race name:", 16);
        FAIL() << "no error raised";
    } catch (const ErrorText& e) {
        EXPECT_EQ(e.text, "Input couldn't be retrieved.");
    }
}

TEST(SettingsDialog, ShowsTheGivenTextAndClosesOnEnterEscapeOkAndCloseBox) {
    struct Way {
        const char* name;
        void (*close)(HWND dialog);
    };
    const Way ways[] = {
        {"OK", [](HWND d) { clickButton(GetDlgItem(d, IDOK)); }},
        {"Enter", [](HWND d) { pressKey(GetDlgItem(d, IDOK), VK_RETURN); }},
        {"Escape", [](HWND d) { pressKey(GetDlgItem(d, IDOK), VK_ESCAPE); }},
        {"close box", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Way& way : ways) {
        std::string shown;
        INT_PTR code = withDriver([] { return showSettings(self(), nullptr, "not detected"); },
                                  [&] {
                                      HWND d = waitForTopLevel(GetCurrentProcessId(), "#32770", "Settings");
                                      ASSERT_NE(d, nullptr);
                                      shown = controlText(d, IDC_SETTINGS_IP);
                                      way.close(d);
                                  });
        EXPECT_EQ(shown, "not detected") << way.name;
        EXPECT_EQ(code, 0) << way.name;
    }
    std::string shown;
    withDriver([] { return showSettings(self(), nullptr, "203.0.113.7"); },
               [&] {
                   HWND d = waitForTopLevel(GetCurrentProcessId(), "#32770", "Settings");
                   ASSERT_NE(d, nullptr);
                   shown = controlText(d, IDC_SETTINGS_IP);
                   clickButton(GetDlgItem(d, IDOK));
               });
    EXPECT_EQ(shown, "203.0.113.7");
}

BOOL CALLBACK collectStatics(HWND child, LPARAM param) {
    auto& texts = *reinterpret_cast<std::vector<std::string>*>(param);
    if (windowClass(child) == "Static") texts.push_back(windowText(child));
    return TRUE;
}

TEST(AboutDialog, ShowsNameSiteAndCreditsAndCloses) {
    std::vector<std::string> texts;
    withDriver(
        [] {
            showAbout(self(), nullptr);
            return 0;
        },
        [&] {
            HWND d = waitForTopLevel(GetCurrentProcessId(), "#32770", "About");
            ASSERT_NE(d, nullptr);
            EnumChildWindows(d, collectStatics, reinterpret_cast<LPARAM>(&texts));
            pressKey(GetDlgItem(d, IDOK), VK_ESCAPE);
            EXPECT_TRUE(pollUntil([&] { return windowGone(d); }));
        });
    auto has = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) != texts.end(); };
    EXPECT_TRUE(has("Kestrun"));
    EXPECT_TRUE(has(KESTRUN_SITE_URL));
    EXPECT_TRUE(has("Programmed by:"));
    EXPECT_TRUE(has("Kestrun contributors"));
}

// A scratch key under HKLM, removed again whatever the test does.
class RegistryScratch : public ::testing::Test {
protected:
    const std::string path = "Software\\KestrunTest\\AppPaths" + std::to_string(GetCurrentProcessId());
    HKEY key = nullptr;

    void SetUp() override { ASSERT_NE(key = createRegistryKey(HKEY_LOCAL_MACHINE, path), nullptr); }
    void TearDown() override {
        if (key) RegCloseKey(key);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\KestrunTest");
    }
    void set(const char* name, const std::string& value, DWORD type = REG_SZ) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
};

TEST_F(RegistryScratch, ReadsDefaultValueAndPath) {
    set(nullptr, "C:\\Games\\Need For Speed\\nfsHs.exe");
    set("Path", "C:\\Games\\Need For Speed");
    EXPECT_EQ(readAppPath(path, ""), "C:\\Games\\Need For Speed\\nfsHs.exe");
    EXPECT_EQ(readAppPath(path, "Path"), "C:\\Games\\Need For Speed");
}

TEST_F(RegistryScratch, LengthLimit) {
    struct Case {
        std::size_t length;
        bool whole;
    };
    for (Case c : {Case{0, true}, Case{1, true}, Case{254, true}, Case{255, true}, Case{256, false},
                   Case{1000, false}}) {
        std::string value(c.length, 'x');
        set(nullptr, value);
        EXPECT_EQ(readAppPath(path, ""), c.whole ? value : "") << c.length;
    }
}

TEST_F(RegistryScratch, EmptyNameIsTheDefaultValueNotAnEmptyNamedOne) {
    set("Path", "folder");
    // No default value yet: the empty name finds nothing, even though "Path" exists.
    EXPECT_EQ(readAppPath(path, ""), "");
    set(nullptr, "exe");
    EXPECT_EQ(readAppPath(path, ""), "exe");
}

TEST_F(RegistryScratch, MissingKeyOrValueGivesEmptyStrings) {
    set(nullptr, "exe");
    EXPECT_EQ(readAppPath(path, "Path"), "");
    EXPECT_EQ(readAppPath(path + "\\Missing", ""), "");
    EXPECT_EQ(readAppPath(path + "\\Missing", "Path"), "");
    EXPECT_EQ(readAppPath("Software\\KestrunTest\\NoSuchKey", ""), "");
}

TEST_F(RegistryScratch, AnyTypeIsTakenAsBytesUpToTheFirstNul) {
    set("Expand", "%SystemRoot%\\game.exe", REG_EXPAND_SZ);
    EXPECT_EQ(readAppPath(path, "Expand"), "%SystemRoot%\\game.exe");  // not expanded
    const char binary[] = {'a', 'b', '\0', 'c'};
    ASSERT_EQ(RegSetValueExA(key, "Binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>(binary), sizeof binary),
              ERROR_SUCCESS);
    EXPECT_EQ(readAppPath(path, "Binary"), "ab");
    const char unterminated[] = {'x', 'y', 'z'};
    ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_BINARY, reinterpret_cast<const BYTE*>(unterminated), 3),
              ERROR_SUCCESS);
    EXPECT_EQ(readAppPath(path, "Raw"), "xyz");  // never more than the bytes read
}

TEST(AppPathKeys, NameTheGamesExecutables) {
    EXPECT_EQ(appPathKey(kGames[0].executable), "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\nfsHs.exe");
    EXPECT_EQ(appPathKey(kGames[1].executable), "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Porsche.exe");
}

}  // namespace
