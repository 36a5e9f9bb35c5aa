// SIGINT during a long call in an interactive Octave (on a pseudo-terminal,
// as a user has it): the prompt must come back within 2 s with the plug-in's
// "<plugin>:interrupted" error, and the next call must work.
//
//   SigintTest <mex folder> <tests/octave folder> <scratch folder>
//
// The Octave side (interrupt_case.m) writes a file just before the long
// call; SIGINT follows half a second later, so the call is under way even
// on a loaded machine, or 0.2 s later for a call still setting up.  Every wait has a generous limit of its own; only the
// time from SIGINT to the prompt is held to 2 s.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kPrompt = "regmex> ";
constexpr double kPromptLimit = 2.0;   // seconds from SIGINT to the prompt
constexpr double kStartLimit = 120.0;  // Octave's start and each ordinary command
constexpr double kReadyLimit = 120.0;  // building a case's inputs

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

class Octave {
public:
    bool start(const std::string& dir) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return false;
        const char* slaveName = ptsname(master_);
        if (!slaveName) return false;
        const std::string slave = slaveName;
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            setsid();
            const int fd = open(slave.c_str(), O_RDWR);
            if (fd < 0) _exit(127);
            ioctl(fd, TIOCSCTTY, 0);
            dup2(fd, 0);
            dup2(fd, 1);
            dup2(fd, 2);
            if (fd > 2) close(fd);
            close(master_);
            if (chdir(dir.c_str()) != 0) _exit(127);
            setenv("TERM", "dumb", 1);
            // No line editing: readline would redraw the prompt as each
            // command arrives.
            execlp("octave-cli", "octave-cli", "--norc", "--quiet", "--no-history", "--no-window-system",
                   "--interactive", "--no-line-editing", static_cast<char*>(nullptr));
            _exit(127);
        }
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        return true;
    }

    ~Octave() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }

    void send(const std::string& line) {
        const std::string s = line + "\n";
        size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = write(master_, s.data() + done, s.size() - done);
            if (n > 0) done += static_cast<size_t>(n);
            else std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Reads until text appears in the output after position from; false at
    // the limit or when Octave has gone.
    bool waitFor(const std::string& text, size_t from, double limit) {
        const auto t0 = Clock::now();
        while (out_.find(text, from) == std::string::npos) {
            if (since(t0) > limit || !readSome(50)) return false;
        }
        return true;
    }

    bool waitForFile(const std::string& path, double limit) {
        const auto t0 = Clock::now();
        struct stat st;
        while (stat(path.c_str(), &st) != 0) {
            if (since(t0) > limit || !readSome(5)) return false;
        }
        return true;
    }

    void interrupt() { kill(pid_, SIGINT); }
    size_t size() const { return out_.size(); }
    const std::string& output() const { return out_; }
    // Runs an ordinary command and waits until it is done: a marker printed
    // after it, which the echoed command does not hold.  Returns its output
    // and the marker, or "" at the limit.
    std::string run(const std::string& command, double limit) {
        const size_t from = size();
        send(command + "; printf ('%s\\n', ['regmex' '-done']);");
        if (!waitFor("regmex-done", from, limit)) return "";
        return out_.substr(from);
    }
    // Asks Octave to leave; true when it did within the limit.
    bool quit() {
        send("exit");
        const auto t0 = Clock::now();
        while (since(t0) < 30) {
            readSome(50);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
        }
        return false;
    }

private:
    // False once the pseudo-terminal is closed (Octave has ended).
    bool readSome(int waitMs) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, waitMs) < 0) return true;
        if (p.revents & POLLIN) {
            char buf[4096];
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) out_.append(buf, static_cast<size_t>(n));
            return n > 0 || (n < 0 && errno == EAGAIN);
        }
        return !(p.revents & (POLLHUP | POLLERR));
    }

    int master_ = -1;
    pid_t pid_ = -1;
    std::string out_;
};

struct Case {
    const char* name;  // of interrupt_case.m
    const char* plugin;
    int delayMs;       // from the ready file to SIGINT
};

// One plug-in: its long call interrupted, the error's identifier, the next call.
bool interruptCase(Octave& octave, const Case& c, const std::string& ready) {
    const std::string plugin = c.plugin;
    std::remove(ready.c_str());
    octave.send("interrupt_case ('" + std::string(c.name) + "', '" + ready + "')");
    if (!octave.waitForFile(ready, kReadyLimit)) {
        std::printf("%s: the call did not start within %.0f s\n", plugin.c_str(), kReadyLimit);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
    // Nothing is typed from here on, so the next prompt is the one Octave
    // gives once the call has ended.
    const size_t from = octave.size();
    const auto sent = Clock::now();
    octave.interrupt();
    const bool prompt = octave.waitFor(kPrompt, from, 60.0);
    const double seconds = since(sent);
    std::printf("%s: SIGINT %.1f s into the call, to prompt %.3f s\n", c.name, c.delayMs / 1000.0, seconds);
    bool ok = true;
    if (!prompt) {
        std::printf("%s: no prompt within 60 s after SIGINT\n", plugin.c_str());
        return false;
    }
    if (seconds > kPromptLimit) {
        std::printf("%s: the prompt came back after %.3f s, more than %.0f s\n", plugin.c_str(), seconds, kPromptLimit);
        ok = false;
    }
    if (octave.output().find("NOT INTERRUPTED", from) != std::string::npos) {
        std::printf("%s: the call ran to its end\n", plugin.c_str());
        ok = false;
    }

    const std::string id = octave.run("[~, id] = lasterr (); printf ('%s%s]\\n', ['regmex' '-id['], id)", kStartLimit);
    const size_t at = id.find("regmex-id[");
    const std::string got = at == std::string::npos ? "" : id.substr(at + 10, id.find(']', at) - at - 10);
    if (got != plugin + ":interrupted") {
        std::printf("%s: the error was '%s', not %s:interrupted\n", plugin.c_str(), got.c_str(), plugin.c_str());
        ok = false;
    }
    if (octave.run("interrupt_case ('" + plugin + "-next')", kStartLimit).find("NEXT=ok") == std::string::npos) {
        std::printf("%s: the next call failed\n", plugin.c_str());
        ok = false;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <mex folder> <tests/octave folder> <scratch folder>\n", argv[0]);
        return 2;
    }
    // Octave runs in the test folder: every path is made absolute.
    char resolved[3][PATH_MAX];
    for (int i = 0; i < 3; ++i) {
        if (!realpath(argv[i + 1], resolved[i])) {
            std::fprintf(stderr, "%s: no such folder\n", argv[i + 1]);
            return 2;
        }
    }
    const std::string mexDir = resolved[0], testDir = resolved[1], scratch = resolved[2];
    Octave octave;
    if (!octave.start(testDir)) {
        std::printf("cannot start octave-cli on a pseudo-terminal\n");
        return 1;
    }
    if (octave.run("PS1 (['regmex' '> ']); addpath ('" + mexDir + "')", kStartLimit).empty()) {
        std::printf("Octave gave no prompt within %.0f s:\n%s\n", kStartLimit, octave.output().c_str());
        return 1;
    }
    int passed = 0, failed = 0;
    const Case cases[] = {{"warpmatch", "warpmatch", 500}, {"driftfield", "driftfield", 500},
                          {"driftfield-early", "driftfield", 200}};
    for (const Case& c : cases) {
        const std::string ready = scratch + "/sigint_" + c.name + ".ready";
        if (interruptCase(octave, c, ready)) ++passed;
        else ++failed;
        std::remove(ready.c_str());
    }
    if (!octave.quit()) {
        std::printf("Octave did not exit\n");
        ++failed;
    }
    if (failed) std::printf("Octave's output:\n%s\n", octave.output().c_str());
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
