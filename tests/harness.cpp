// Helpers for the tests that run the built tool as a user would.
#include "harness.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

std::string utf16(const std::string &text, bool little_endian, bool bom, bool wide) {
    std::string out;
    auto unit = [&](unsigned u) {
        for (int i = 0, n = wide ? 4 : 2; i < n; i++)
            out += static_cast<char>(u >> 8 * (little_endian ? i : n - 1 - i));
    };
    if (bom)
        unit(0xFEFF);
    for (size_t i = 0; i < text.size();) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra = byte < 0x80 ? 0 : byte < 0xE0 ? 1 : byte < 0xF0 ? 2 : 3;
        unsigned cp = extra == 0 ? byte : byte & (0x3Fu >> extra);
        for (int k = 1; k <= extra; k++)
            cp = cp << 6 | (static_cast<unsigned char>(text[i + static_cast<size_t>(k)]) & 0x3Fu);
        i += static_cast<size_t>(extra) + 1;
        if (cp >= 0x10000 && !wide) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::string &bytes, int mode) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> hidden_files(const std::string &dir) {
    std::vector<std::string> names;
    for (auto &entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name[0] == '.')
            names.push_back(name);
    }
    return names;
}

temp_dir::temp_dir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvel-test-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

bool can_run_unprivileged() {
    return geteuid() != 0 || !find_program("setpriv").empty();
}

std::string find_program(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (!candidate.empty() && candidate[0] == '/' && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

// Splits a command line at blanks.
static std::vector<std::string> words_of(const char *line) {
    std::vector<std::string> words;
    std::string word;
    for (const char *p = line;; p++) {
        if (*p != ' ' && *p != '\0') {
            word += *p;
            continue;
        }
        if (!word.empty())
            words.push_back(word);
        word.clear();
        if (*p == '\0')
            return words;
    }
}

bool wrapped(const char *name) {
    const char *wrapper = std::getenv("QUORVEL_WRAPPER");
    return wrapper != nullptr && *wrapper != '\0' && std::strstr(wrapper, name) != nullptr;
}

// Waits for the process to end; one that is still running after seconds is
// asked to stop, then killed, and fails the test. Returns its wait status.
static int wait_at_most(pid_t pid, int seconds) {
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int sig : {0, SIGTERM, SIGKILL}) {
        if (sig != 0) {
            ADD_FAILURE() << "the run took longer than " << seconds << " s: sent signal " << sig;
            kill(pid, sig);
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        }
        while (std::chrono::steady_clock::now() < deadline || sig == SIGKILL) {
            if (waitpid(pid, &status, WNOHANG) != 0)
                return status;
            usleep(1000);
        }
    }
    return status;
}

// Processes orphaned by a run come to the tests' process, not to init.
static const bool adopting = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;

bool none_left_running() {
    if (!adopting)
        return true;
    for (int i = 0; i < 500; i++) {
        pid_t pid;
        while ((pid = waitpid(-1, nullptr, WNOHANG)) > 0)
            ;
        if (pid == -1)
            return true;
        usleep(10000);
    }
    return false;
}

run_result run_quorvel(const std::vector<std::string> &args, const run_options &options) {
    temp_dir io;
    std::string out = options.stdout_path.empty() ? io / "stdout" : options.stdout_path;
    std::string err = io / "stderr";

    std::vector<std::string> words;
    // QUORVEL_BIN in the environment names another build of the tool, such
    // as one for another machine, run through the QUORVEL_WRAPPER emulator.
    const char *bin = std::getenv("QUORVEL_BIN");
    std::string tool = bin != nullptr && *bin != '\0' ? bin : QUORVEL_BIN;
    if (options.unprivileged && geteuid() == 0) {
        words = {find_program("setpriv"), "--reuid=65534", "--regid=65534", "--clear-groups"};
        // A copy that nobody can reach, wherever the build folder lies.
        chmod(io.path.c_str(), 0755);
        write_file(io / "quorvel", read_file(tool), 0755);
        tool = io / "quorvel";
    }
    words.insert(words.end(), options.prefix.begin(), options.prefix.end());
    if (const char *wrapper = std::getenv("QUORVEL_WRAPPER")) {
        std::vector<std::string> w = words_of(wrapper);
        words.insert(words.end(), w.begin(), w.end());
    }
    words.push_back(tool);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    std::vector<std::string> env_strings;
    for (char **e = environ; *e; e++) {
        std::string name(*e, std::strcspn(*e, "="));
        if ((options.path.empty() || name != "PATH") &&
            std::none_of(options.env.begin(), options.env.end(),
                         [&](const std::string &v) { return v.substr(0, v.find('=')) == name; }))
            env_strings.push_back(*e);
    }
    if (!options.path.empty())
        env_strings.push_back("PATH=" + options.path);
    for (auto &v : options.env)
        if (v.find('=') != std::string::npos)
            env_strings.push_back(v);
    std::vector<char *> envp;
    for (auto &e : env_strings)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (options.stdout_fd != -1)
        posix_spawn_file_actions_adddup2(&actions, options.stdout_fd, 1);
    if (options.stderr_fd != -1)
        posix_spawn_file_actions_adddup2(&actions, options.stderr_fd, 2);
    if (options.closed_fd != -1)
        posix_spawn_file_actions_addclose(&actions, options.closed_fd);
    // A caller of the tests that ignores a signal (nohup, a CI runner) must
    // not change what the tests see.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigemptyset(&none);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGPIPE, SIGXFSZ})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid;
    int spawn_error = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0)
        throw std::runtime_error(std::string("cannot run ") + argv[0]);
    if (options.meanwhile)
        options.meanwhile(pid);
    int status = wait_at_most(pid, options.time_limit * (wrapped() ? 10 : 1));
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return {code, options.stdout_path.empty() ? read_file(out) : "", read_file(err)};
}

std::string tool_test::strings(const std::string &text, const std::string &name) {
    write_file(dir / name, utf16(text));
    return dir / name;
}

std::string tool_test::stand_in(const std::string &script) {
    std::string bin = dir / "bin";
    mkdir(bin.c_str(), 0755);
    write_file(bin + "/iconv", "#!/bin/sh\n" + script, 0755);
    return bin + ":/usr/bin:/bin";
}
