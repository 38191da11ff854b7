// platform_windows_arguments.cpp: the wide command line as UTF-8 words. Kept
// apart from platform_windows.cpp: CommandLineToArgvW lives in the shell's
// library, which only a program that asks for its arguments this way loads.
#include <windows.h>
// The shell's header needs the system's first.
#include <shellapi.h>

#include "platform.h"

std::vector<std::string> platform_arguments(int argc, char **argv) {
    int count = 0;
    LPWSTR *words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
        std::string word(static_cast<size_t>(n > 0 ? n : 1), '\0');
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, words[i], -1, word.data(), n, nullptr, nullptr);
        word.resize(word.size() - 1);  // the terminating NUL
        arguments.push_back(word);
    }
    LocalFree(words);
    return arguments;
}
