#include "temp_dir.h"

#include <windows.h>

#include <cstdio>

namespace {

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string full = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

ScopedCurrentDir::ScopedCurrentDir() {
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    previous_ = buffer;
    GetTempPathA(sizeof buffer, buffer);
    char name[64];
    static int serial = 0;
    snprintf(name, sizeof name, "orvtest-%lu-%d", GetCurrentProcessId(), serial++);
    path_ = std::string(buffer) + name;
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
    SetCurrentDirectoryA(path_.c_str());
}

ScopedCurrentDir::~ScopedCurrentDir() {
    SetCurrentDirectoryA(previous_.c_str());
    RemoveTree(path_);
}

std::string ReadWholeFile(const std::string& path) {
    std::string content;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return content;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, got);
    fclose(file);
    return content;
}
