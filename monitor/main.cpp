/*
 * main.cpp - the entry of orvstsn.exe, the status monitor. It takes no
 * command line and ignores the show state it is started with: the status
 * record decides how the window shows (startup.h).
 */
#include <windows.h>

#include "startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return orv::MonitorMain(instance);
}
