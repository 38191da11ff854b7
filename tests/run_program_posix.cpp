// run_program_posix.cpp: runs the built programs in a folder of their own,
// capturing standard error and the exit status. With KEGKIT_TARGET=windows
// the programs are the Windows builds in KEGKIT_EXE_DIR, run under wine64.
// A cross build's programs run through its emulator (KEGKIT_EMULATOR, the
// words of the command), as ctest runs the tests themselves.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"

#ifdef KEGKIT_EMULATOR
static const char *const emulator_words[] = {KEGKIT_EMULATOR};
#endif

static std::string slurp_fd(int fd) {
    std::string text;
    char buffer[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    return text;
}

static RunResult run_once(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                          uint64_t address_space, uint64_t file_size) {
    FILE *err_file = tmpfile();
    FILE *out_file = tmpfile();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(120);
        dup2(fileno(err_file), 2);
        dup2(fileno(out_file), 1);
        std::vector<char *> argv;
        const bool wine = testing_windows_build();
        const char *wine_env = std::getenv("KEGKIT_WINE");
        std::string wine_path = wine_env ? wine_env : "/usr/lib/wine/wine64";
        if (wine) argv.push_back(wine_path.data());
        bool limit_here = address_space != 0;
#ifdef KEGKIT_EMULATOR
        // qemu-user ignores RLIMIT_AS for the program it runs, and needs far
        // more than the limit for itself; its -R option reserves the
        // program's whole address space instead, which bounds it the same way.
        std::string reserve = std::to_string(address_space);
        if (!wine) {
            for (const char *word : emulator_words) argv.push_back(const_cast<char *>(word));
            if (address_space) {
                const char *slash = std::strrchr(emulator_words[0], '/');
                if (std::strncmp(slash ? slash + 1 : emulator_words[0], "qemu-", 5) != 0) {
                    std::fputs("run_program: no address-space limit through this emulator\n", stderr);
                    _exit(122);
                }
                argv.push_back(const_cast<char *>("-R"));
                argv.push_back(reserve.data());
                limit_here = false;
            }
        }
#endif
        if (limit_here) {
            const struct rlimit limit = {address_space, address_space};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(122);
        }
        if (file_size) {
            const struct rlimit limit = {file_size, file_size};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(123);
            signal(SIGXFSZ, SIG_IGN);
        }
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (argv[0] != program.c_str())
            execvp(argv[0], argv.data());
        else
            execv(program.c_str(), argv.data());
        _exit(121);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1000 - WTERMSIG(wstatus);
    result.err = slurp_fd(fileno(err_file));
    result.out = slurp_fd(fileno(out_file));
    if (testing_windows_build()) {
        // Windows writes standard error in text mode: every "\n" arrives as "\r\n".
        for (std::string *text : {&result.err, &result.out}) {
            std::string plain;
            for (size_t i = 0; i < text->size(); ++i)
                if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) plain += (*text)[i];
            *text = plain;
        }
    }
    fclose(err_file);
    fclose(out_file);
    return result;
}

bool testing_windows_build() {
    const char *target = std::getenv("KEGKIT_TARGET");
    return target && std::strcmp(target, "windows") == 0;
}

static std::string program_path(const std::string &name) {
    if (testing_windows_build()) {
        const char *dir = std::getenv("KEGKIT_EXE_DIR");
        return std::string(dir ? dir : ".") + "/" + name + ".exe";
    }
    return std::string(KEGKIT_BIN_DIR) + "/" + name;
}

std::string kegsplit_path(const ArchiveLayout &layout) {
    if (&layout == &LAYOUT_2_11) return program_path("kegsplit-2.11");
    if (&layout == &LAYOUT_2_12) return program_path("kegsplit-2.12");
    return program_path("kegsplit-2.13");
}

std::string palimp_path() { return program_path("palimp"); }

std::string kegkit_path() { return program_path("kegkit"); }

bool have_imagemagick() { return std::system("/usr/bin/convert -version > /dev/null 2>&1") == 0; }

Bytes imagemagick_rgba(const std::string &path) {
    const std::string raw = path + ".rgba";
    const std::string command = "/usr/bin/convert '" + path + "' -depth 8 'rgba:" + raw + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    Bytes pixels = read_file_bytes(raw);
    std::remove(raw.c_str());
    return pixels;
}

// wine now and then fails to start a process at all ("wine: failed to map
// the shared user data"), often silently under WINEDEBUG=-all; that is the
// test machine's trouble, not the program's, so such a start is tried
// again. The classic programs end only with 0 or 255, kegkit with 0, 1 or
// 2, so any other status comes from wine.
static bool wine_failed_to_start(const std::string &program, const RunResult &r) {
    const bool kegkit = program.compare(program.find_last_of('/') + 1, 6, "kegkit") == 0;
    const bool own_status = r.status == 0 || (kegkit ? r.status == 1 || r.status == 2 : r.status == 255);
    return !own_status || r.err.find("wine: failed") != std::string::npos ||
           r.err.find("err:virtual:") != std::string::npos || r.err.find("wine64: dlls/") != std::string::npos;
}

RunResult run_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                      uint64_t address_space, uint64_t file_size) {
    RunResult r = run_once(program, args, cwd, address_space, file_size);
    for (int retry = 0; retry < 3 && testing_windows_build() && wine_failed_to_start(program, r); ++retry)
        r = run_once(program, args, cwd, address_space, file_size);
    return r;
}

std::string program_argv0(const std::string &path) {
    if (!testing_windows_build()) return path;
    // wine hands a program its own path as a Windows path on drive Z:.
    std::string windows = "Z:" + path;
    for (char &c : windows)
        if (c == '/') c = '\\';
    return windows;
}

std::string open_error_text(int error) {
    // The Windows runtime refuses to open a folder as a file with EACCES.
    if (testing_windows_build() && error == EISDIR) error = EACCES;
    return std::strerror(error);
}

std::string file_too_large_text() {
    // wine hands the Windows runtime no error of its own for EFBIG, and the
    // runtime reports it as EINVAL.
    return std::strerror(testing_windows_build() ? EINVAL : EFBIG);
}

std::vector<std::string> program_command(const std::string &program) {
    std::vector<std::string> words;
#ifdef KEGKIT_EMULATOR
    for (const char *word : emulator_words) words.push_back(word);
#endif
    words.push_back(program);
    return words;
}
