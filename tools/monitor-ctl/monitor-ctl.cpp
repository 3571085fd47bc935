/*
 * monitor-ctl - talks to a running orvstsn.exe through its window, as the
 * user and the shell do: shows what the status window shows, restores it
 * from the tray, presses its buttons, chooses from its tray menu. Used by
 * the demo and for checks by hand. One command a run; --help lists them.
 * Exit code 0 on success, 1 when the monitor or a window state was not
 * found in time, 2 for a bad command line.
 *
 * Texts are printed as the window holds them (the system code page).
 */
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT kTrayMessage = WM_APP + 100;  // the monitor's tray callback
constexpr int kOkButton = 1044;
constexpr int kCancelButton = 1047;
constexpr int kMessageField = 1060;
constexpr int kUserField = 1050;
constexpr int kDocumentField = 1031;
constexpr char kTitlePrefix[] = "ステータスモニタ : ";

const char kHelp[] =
    "monitor-ctl - drive the running ORV status monitor (orvstsn.exe) through its window\n"
    "\n"
    "usage: monitor-ctl COMMAND [ARGUMENTS]\n"
    "\n"
    "  state                  print the window: shown or in the tray, title, message,\n"
    "                         user, document, buttons\n"
    "  restore                double-click the tray icon\n"
    "  minimise               minimise the window to the tray\n"
    "  click ok|cancel        press OK or the print-cancel button\n"
    "  menu r|c|x             open the tray menu and choose restore, cancel or exit\n"
    "  scroll                 scroll the message to its end, as with its scroll bar\n"
    "  close                  close the window (the monitor ends)\n"
    "  wait shown|tray|gone [TIMEOUT_MS]\n"
    "                         wait (default 10000 ms) until the window is shown, in the\n"
    "                         tray, or the monitor has ended\n";

BOOL CALLBACK MatchMonitor(HWND window, LPARAM found) {
    char class_name[16] = {}, title[600] = {};
    GetClassNameA(window, class_name, sizeof class_name);
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(class_name, "#32770") != 0 || GetDlgItem(window, kMessageField) == nullptr ||
        strncmp(title, kTitlePrefix, strlen(kTitlePrefix)) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

/* The status window: a dialog with the message field whose title starts
 * with the monitor's. */
HWND FindMonitor() {
    HWND found = nullptr;
    EnumWindows(MatchMonitor, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Text(HWND window, int control) {
    char text[4096] = {};
    GetDlgItemTextA(window, control, text, sizeof text);
    return text;
}

bool Shown(HWND window) {
    return IsWindowVisible(window) && !IsIconic(window);
}

int PrintState(HWND window) {
    char title[600] = {};
    GetWindowTextA(window, title, sizeof title);
    LRESULT default_id = SendMessageA(window, DM_GETDEFID, 0, 0);
    printf("window:   %s\n", Shown(window) ? "shown" : "in the tray");
    printf("title:    %s\n", title);
    std::string message = Text(window, kMessageField);
    for (size_t line = 0, start = 0; start < message.size(); ++line) {
        size_t end = message.find("\r\n", start);
        if (end == std::string::npos)
            end = message.size();
        printf("%s%s\n", line == 0 ? "message:  " : "          ", message.substr(start, end - start).c_str());
        start = end + 2;
    }
    printf("user:     %s\n", Text(window, kUserField).c_str());
    printf("document: %s\n", Text(window, kDocumentField).c_str());
    printf("OK:       %s%s\n", IsWindowEnabled(GetDlgItem(window, kOkButton)) ? "enabled" : "disabled",
           LOWORD(default_id) == kOkButton ? ", default" : "");
    printf("cancel:   enabled%s\n", LOWORD(default_id) == kCancelButton ? ", default" : "");
    return 0;
}

bool WaitUntil(bool (*condition)(), DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeout_ms)
            return false;
        Sleep(50);
    }
    return true;
}

/* Opens the tray menu and picks an item by its mnemonic. */
int ChooseMenuItem(HWND window, char mnemonic) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    PostMessageA(window, kTrayMessage, 1, WM_RBUTTONDOWN);
    for (int i = 0; i < 100; ++i) {
        HWND menu = FindWindowA("#32768", nullptr);
        DWORD owner = 0;
        if (menu != nullptr && (GetWindowThreadProcessId(menu, &owner), owner == process)) {
            PostMessageA(menu, WM_CHAR, static_cast<WPARAM>(mnemonic), 0);
            return 0;
        }
        Sleep(30);
    }
    fprintf(stderr, "monitor-ctl: the tray menu did not open\n");
    return 1;
}

int Usage(const char* problem) {
    fprintf(stderr, "monitor-ctl: %s (monitor-ctl --help for the commands)\n", problem);
    return 2;
}

int Wait(const std::string& what, DWORD timeout_ms) {
    bool reached = false;
    if (what == "shown")
        reached = WaitUntil([] { HWND w = FindMonitor(); return w != nullptr && Shown(w); }, timeout_ms);
    else if (what == "tray")
        reached = WaitUntil([] { HWND w = FindMonitor(); return w != nullptr && !IsWindowVisible(w); }, timeout_ms);
    else if (what == "gone")
        reached = WaitUntil([] { return FindMonitor() == nullptr; }, timeout_ms);
    else
        return Usage("wait shown|tray|gone");
    if (!reached)
        fprintf(stderr, "monitor-ctl: the window was not %s within %lu ms\n", what.c_str(),
                static_cast<unsigned long>(timeout_ms));
    return reached ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        fputs(kHelp, stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    if (command == "wait")
        return argc >= 3 ? Wait(argv[2], argc >= 4 ? strtoul(argv[3], nullptr, 10) : 10000) : Usage("wait what?");
    HWND window = FindMonitor();
    if (window == nullptr) {
        fprintf(stderr, "monitor-ctl: no status monitor is running\n");
        return 1;
    }
    if (command == "state")
        return PrintState(window);
    if (command == "restore") {
        PostMessageA(window, kTrayMessage, 1, WM_LBUTTONDBLCLK);
        return 0;
    }
    if (command == "minimise") {
        PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return 0;
    }
    if (command == "scroll") {
        SendDlgItemMessageA(window, kMessageField, WM_VSCROLL, SB_BOTTOM, 0);
        return 0;
    }
    if (command == "close") {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (command == "click" && argc == 3 && (strcmp(argv[2], "ok") == 0 || strcmp(argv[2], "cancel") == 0)) {
        int button = strcmp(argv[2], "ok") == 0 ? kOkButton : kCancelButton;
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, button)));
        return 0;
    }
    if (command == "menu" && argc == 3 && strlen(argv[2]) == 1 && strchr("rcx", argv[2][0]) != nullptr)
        return ChooseMenuItem(window, argv[2][0]);
    return Usage(("bad command: " + command).c_str());
}
