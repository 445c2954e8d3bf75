// Times whole runs of programs without a shell in between: every process is
// started here, through posix_spawn, and waited for, so that no fork of a
// shell enters the figures. What is compared runs in turns whose order
// alternates every round; each row gives the median, min and max of both and
// the median of the per-round ratios.
//
//   timing large ROUNDS TOOL FILE WORK     one file: TOOL FILE WORK/out.po against
//                                          iconv > /dev/null and iconv | cat > file
//   timing batch ROUNDS TOOL NOTHING WORK FILE...
//                                          TOOL on each file against two floors:
//                                          NOTHING started, then iconv on the file
//                                          into /dev/null, and into a file that
//                                          it creates or empties, as > does
//   timing memory TOOL FILE WORK           the peak resident memory of TOOL
//                                          itself, read from /proc as it runs
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using args = std::vector<std::string>;

[[noreturn]] void die(const std::string &what) {
    std::fprintf(stderr, "timing: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

// Starts argv with the given standard input and output, and standard error
// on /dev/null: the tool's diagnostics are not what is measured.
pid_t start(const args &argv, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char *> v;
    for (auto &a : argv)
        v.push_back(const_cast<char *>(a.c_str()));
    v.push_back(nullptr);
    pid_t pid;
    int err = posix_spawnp(&pid, v[0], &actions, nullptr, v.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) {
        errno = err;
        die(argv[0]);
    }
    return pid;
}

void wait_for(pid_t pid, bool must_succeed = true) {
    int status;
    while (waitpid(pid, &status, 0) == -1)
        if (errno != EINTR)
            die("waitpid");
    if (must_succeed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        std::fprintf(stderr, "timing: a run failed (status %d)\n", status);
        std::exit(2);
    }
}

int open_or_die(const std::string &path, int flags) {
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd == -1)
        die(path);
    return fd;
}

// Runs argv to its end, its output into path (/dev/null for none).
void run(const args &argv, const std::string &path = "/dev/null", bool must_succeed = true) {
    int in = open_or_die("/dev/null", O_RDONLY);
    int out = open_or_die(path, O_WRONLY | O_CREAT | O_TRUNC);
    pid_t pid = start(argv, in, out);
    close(in);
    close(out);
    wait_for(pid, must_succeed);
}

// Runs first | second > path.
void run_piped(const args &first, const args &second, const std::string &path) {
    int fds[2];
    if (pipe(fds) == -1)
        die("pipe");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    int in = open_or_die("/dev/null", O_RDONLY);
    int out = open_or_die(path, O_WRONLY | O_CREAT | O_TRUNC);
    pid_t a = start(first, in, fds[1]);
    pid_t b = start(second, fds[0], out);
    for (int fd : {fds[0], fds[1], in, out})
        close(fd);
    wait_for(a);
    wait_for(b);
}

double seconds(const std::function<void()> &what) {
    auto begin = std::chrono::steady_clock::now();
    what();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One step of a comparison: a run of the tool and the reference's run.
struct step {
    std::function<void()> tool, reference;
};

// Times the steps' runs, rounds times; prints a row with the medians, min and
// max of the rounds' totals (divided by per) and the median of their ratios.
// Within a round the order of tool and reference alternates from step to
// step, and from round to round, so that a machine that slows down or
// speeds up meanwhile weighs on both alike.
void compare(const char *label, int rounds, const std::vector<step> &steps,
             const char *reference_name, double per = 1, const char *unit = "s") {
    std::vector<double> a, b, ratio;
    for (int i = 0; i < rounds; i++) {
        double ta = 0, tb = 0;
        for (size_t j = 0; j < steps.size(); j++) {
            if ((static_cast<size_t>(i) + j) % 2 == 0) {
                ta += seconds(steps[j].tool);
                tb += seconds(steps[j].reference);
            } else {
                tb += seconds(steps[j].reference);
                ta += seconds(steps[j].tool);
            }
        }
        a.push_back(ta / per);
        b.push_back(tb / per);
        ratio.push_back(ta / tb);
    }
    auto stats = [](const std::vector<double> &v, char *out, size_t size) {
        std::snprintf(out, size, "%.4f [%.4f, %.4f]", median(v),
                      *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    };
    char sa[64], sb[64];
    stats(a, sa, sizeof sa);
    stats(b, sb, sizeof sb);
    std::printf("%-28s quorvel %s %s   %-22s %s %s   ratio %.3f\n", label, sa, unit, reference_name,
                sb, unit, median(ratio));
    std::fflush(stdout);
}

// The largest VmHWM, in KiB, that /proc shows for pid before it ends.
long peak_kib(pid_t pid) {
    std::string status = "/proc/" + std::to_string(pid) + "/status";
    long peak = 0;
    for (;;) {
        std::ifstream in(status);
        std::string line;
        bool running = false;
        while (std::getline(in, line)) {
            if (line.compare(0, 6, "State:") == 0)
                running = line.find('Z') == std::string::npos;
            if (line.compare(0, 6, "VmHWM:") == 0)
                peak = std::max(peak, std::atol(line.c_str() + 6));
        }
        if (!running)
            return peak;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

int large(int rounds, const std::string &tool, const std::string &file, const std::string &work) {
    args iconv = {"iconv", "-f", "utf-16", "-t", "utf-8", file};
    auto run_tool = [&] { run({tool, file, work + "/large.po"}); };
    compare("one file, iconv > null", rounds, {{run_tool, [&] { run(iconv); }}},
            "iconv >/dev/null");
    compare("one file, iconv | cat > file", rounds,
            {{run_tool, [&] { run_piped(iconv, {"cat"}, work + "/large.txt"); }}},
            "iconv|cat>file");
    return 0;
}

int batch(int rounds, const std::string &tool, const std::string &nothing, const std::string &work,
          const std::vector<std::string> &files) {
    // The tool must create and write its PO file; iconv writing into
    // /dev/null does neither, iconv writing into a file does both.
    for (const char *floor : {"/dev/null", "file"}) {
        std::string out = std::string(floor) == "file" ? work + "/small.txt" : floor;
        std::vector<step> steps;
        for (auto &f : files)
            steps.push_back({[&tool, &work, &f] {
                                 run({tool, f, work + "/small.po"});
                             },
                             [&nothing, &f, &out] {
                                 run({nothing});
                                 run({"iconv", "-f", "utf-16", "-t", "utf-8", f}, out);
                             }});
        std::string label = std::to_string(files.size()) + " files, one run each";
        std::string reference = std::string("start+iconv>") + floor;
        compare(label.c_str(), rounds, steps, reference.c_str(),
                static_cast<double>(files.size()) / 1000, "ms/file");
    }
    return 0;
}

int memory(const std::string &tool, const std::string &file, const std::string &work) {
    int in = open_or_die("/dev/null", O_RDONLY);
    int out = open_or_die("/dev/null", O_WRONLY);
    pid_t pid = start({tool, file, work + "/memory.po"}, in, out);
    close(in);
    close(out);
    long kib = peak_kib(pid);
    wait_for(pid);
    std::printf("%ld\n", kib);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "large" && argc == 6)
        return large(std::atoi(argv[2]), argv[3], argv[4], argv[5]);
    if (mode == "batch" && argc >= 7)
        return batch(std::atoi(argv[2]), argv[3], argv[4], argv[5],
                     std::vector<std::string>(argv + 6, argv + argc));
    if (mode == "memory" && argc == 5)
        return memory(argv[2], argv[3], argv[4]);
    std::fputs("usage: timing large ROUNDS TOOL FILE WORK\n"
               "       timing batch ROUNDS TOOL NOTHING WORK FILE...\n"
               "       timing memory TOOL FILE WORK\n",
               stderr);
    return 2;
}
