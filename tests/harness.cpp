// Helpers for the tests that run the built tool as a user would.
#include "harness.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

extern char **environ;

std::string utf16(const std::string &text, bool little_endian, bool bom) {
    std::string out;
    auto unit = [&](unsigned u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += little_endian ? lo : hi;
        out += little_endian ? hi : lo;
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
        if (cp >= 0x10000) {
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

run_result run_quorvel(const std::vector<std::string> &args, const std::string &path,
                       const std::string &stdout_path) {
    temp_dir io;
    std::string out = stdout_path.empty() ? io / "stdout" : stdout_path, err = io / "stderr";

    // An optional wrapper, such as valgrind, runs the tool.
    std::vector<std::string> words;
    if (const char *wrapper = std::getenv("QUORVEL_WRAPPER")) {
        std::string w;
        for (const char *p = wrapper;; p++) {
            if (*p == ' ' || *p == '\0') {
                if (!w.empty())
                    words.push_back(w);
                w.clear();
                if (*p == '\0')
                    break;
            } else {
                w += *p;
            }
        }
    }
    words.push_back(QUORVEL_BIN);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);

    std::vector<std::string> env_strings;
    for (char **e = environ; *e; e++)
        if (path.empty() || std::strncmp(*e, "PATH=", 5) != 0)
            env_strings.push_back(*e);
    if (!path.empty())
        env_strings.push_back("PATH=" + path);
    std::vector<char *> envp;
    for (auto &e : env_strings)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int spawn_error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawn_error != 0)
        throw std::runtime_error(std::string("cannot run ") + argv[0]);
    int status;
    waitpid(pid, &status, 0);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {code, stdout_path.empty() ? read_file(out) : "", read_file(err)};
}
