#include "platform/live/LiveProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <mutex>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/UTF8.h"
#include "platform/live/LiveHostInfo.h"
#include "platform/live/PosixFile.h"

namespace lumo {

namespace {

using posix::UniqueFd;
using Clock = std::chrono::steady_clock;

// How often a child that is silent (or whose pipe is held open by others) is
// checked for having exited.
constexpr std::chrono::milliseconds kExitCheckInterval{100};
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

// Making a child's pipes and spawning it happen under this lock: a pipe end is
// inheritable between pipe() and its fcntl(FD_CLOEXEC), and a child spawned on
// another thread in that moment would keep it open for its whole life.
std::mutex& spawnLock() {
    static std::mutex lock;
    return lock;
}

// A write to a pipe whose reader has gone must be an EPIPE error for the app,
// never a signal that ends it. A handler the app installed itself is left alone.
void ignoreBrokenPipes() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) != 0) return;
        if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, nullptr);
    });
}

// Makes `fd` close-on-exec and moves it above the standard descriptors, so
// that handing it to the child as 1 or 2 is always a real dup2 (which clears
// close-on-exec on the copy) even when the app runs with 0-2 closed.
Status prepareDescriptor(UniqueFd& fd) {
    if (fd.get() <= STDERR_FILENO) {
        const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0) return posixError(errno);
        fd = UniqueFd(moved);
        return {};
    }
    if (::fcntl(fd.get(), F_SETFD, FD_CLOEXEC) != 0) return posixError(errno);
    return {};
}

struct Pipe {
    UniqueFd readEnd;
    UniqueFd writeEnd;
};

// Callers hold spawnLock().
Result<Pipe> makePipe() {
    int fds[2];
    if (::pipe(fds) != 0) return posixError(errno);
    Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
    if (auto status = prepareDescriptor(pipe.readEnd); !status) return status.error();
    if (auto status = prepareDescriptor(pipe.writeEnd); !status) return status.error();
    return pipe;
}

int terminationStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return WTERMSIG(status);
    return -1;
}

// A launched child: terminated on request, reaped exactly once.
//
// The child leads its own process group (pgid == pid). As long as it has not
// been reaped -- alive or a zombie -- neither the pid nor the group id can be
// given to another process, so terminate() signals only while holding the
// lock and before wait() has reaped the child.
class SpawnedChild final : public TerminableChild {
public:
    explicit SpawnedChild(pid_t pid) : m_pid(pid) {}
    SpawnedChild(const SpawnedChild&) = delete;
    SpawnedChild& operator=(const SpawnedChild&) = delete;

    // Never leaves a zombie, even on a path that forgot to wait.
    ~SpawnedChild() override {
        if (!isReaped()) {
            terminate();
            wait();
        }
    }

    void terminate() override { signalGroup(SIGTERM); }
    void kill() { signalGroup(SIGKILL); }

    // True once the child has ended (reaped or not). Never blocks.
    bool hasExited() {
        if (isReaped()) return true;
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
            return errno == ECHILD;
        }
        return info.si_pid == m_pid &&
               (info.si_code == CLD_EXITED || info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED);
    }

    // Blocks until the child has ended, reaps it and returns its termination
    // status. Only the thread that owns the run calls it.
    int wait() {
        for (;;) {
            // Wait without reaping, so that the pid stays ours until the lock
            // is held; then reap without blocking.
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) continue;
            {
                std::lock_guard lock(m_lock);
                if (m_reaped) return m_status;
                int status = 0;
                pid_t reaped = 0;
                do {
                    reaped = ::waitpid(m_pid, &status, WNOHANG);
                } while (reaped < 0 && errno == EINTR);
                if (reaped == m_pid || reaped < 0) {
                    // reaped < 0 (ECHILD): SIGCHLD is ignored, so the system
                    // reaped it and its status is lost.
                    m_reaped = true;
                    m_status = reaped == m_pid ? terminationStatus(status) : -1;
                    return m_status;
                }
            }
            // Some systems' waitid() also returns for a stopped child.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    void signalGroup(int signal) {
        std::lock_guard lock(m_lock);
        if (m_reaped) return;
        // The group is gone only if the child moved itself out of it.
        if (::kill(-m_pid, signal) != 0) ::kill(m_pid, signal);
    }

    bool isReaped() {
        std::lock_guard lock(m_lock);
        return m_reaped;
    }

    const pid_t m_pid;
    std::mutex m_lock;
    bool m_reaped = false;  // guarded by m_lock
    int m_status = -1;      // guarded by m_lock
};

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

class SpawnAttributes {
public:
    SpawnAttributes() { m_error = ::posix_spawnattr_init(&m_attributes); }
    ~SpawnAttributes() {
        if (m_error == 0) ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    // Own session (so its own process group, and no controlling terminal);
    // default dispositions and an empty mask whatever the app has set up; on
    // macOS, no descriptor inherited unless named. (A session leader cannot
    // also be given a group: setsid already made it one.)
    int configure() {
        if (m_error != 0) return m_error;
        int flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#ifdef __APPLE__
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        sigset_t defaults;
        sigfillset(&defaults);
        sigdelset(&defaults, SIGKILL);
        sigdelset(&defaults, SIGSTOP);
        sigset_t mask;
        sigemptyset(&mask);
        if (int error = ::posix_spawnattr_setflags(&m_attributes, static_cast<short>(flags)); error != 0) return error;
        if (int error = ::posix_spawnattr_setsigdefault(&m_attributes, &defaults); error != 0) return error;
        return ::posix_spawnattr_setsigmask(&m_attributes, &mask);
    }
    const posix_spawnattr_t* get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes{};
    int m_error = 0;
};

class FileActions {
public:
    FileActions() { m_error = ::posix_spawn_file_actions_init(&m_actions); }
    ~FileActions() {
        if (m_error == 0) ::posix_spawn_file_actions_destroy(&m_actions);
    }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    // stdin from /dev/null, stdout and stderr into the given pipe ends.
    int configure(int stdoutFd, int stderrFd) {
        if (m_error != 0) return m_error;
        if (int error = ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
            error != 0) {
            return error;
        }
        if (int error = ::posix_spawn_file_actions_adddup2(&m_actions, stdoutFd, STDOUT_FILENO); error != 0) {
            return error;
        }
        return ::posix_spawn_file_actions_adddup2(&m_actions, stderrFd, STDERR_FILENO);
    }
    const posix_spawn_file_actions_t* get() const { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
    int m_error = 0;
};

struct LaunchedChild {
    // Declared first so that it is destroyed last, after the pipes are closed.
    std::shared_ptr<SpawnedChild> child;
    UniqueFd stdoutPipe;
    UniqueFd stderrPipe;  // not used when the outputs are merged
};

// Starts the child with its stdout and stderr on pipes (one shared pipe when
// `merged`). The child's ends are closed in the parent before this returns.
Result<LaunchedChild> launch(const std::string& executable, const std::vector<std::string>& arguments,
                             const std::optional<Environment>& environment, bool merged) {
    // A NUL would silently cut a string short on its way to the child.
    bool malformed = hasNul(executable);
    for (const auto& argument : arguments) malformed = malformed || hasNul(argument);
    if (environment) {
        for (const auto& [name, value] : *environment) {
            malformed =
                malformed || name.empty() || hasNul(name) || hasNul(value) || name.find('=') != std::string::npos;
        }
    }
    if (malformed) return posixError(EINVAL);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> variables;
    std::vector<char*> envp;
    if (environment) {
        variables.reserve(environment->size());
        for (const auto& [name, value] : *environment) {
            std::string& variable = variables.emplace_back(name);
            variable.append("=").append(value);
        }
        for (auto& variable : variables) envp.push_back(variable.data());
        envp.push_back(nullptr);
    }

    SpawnAttributes attributes;
    if (int error = attributes.configure(); error != 0) return posixError(error);

    std::lock_guard lock(spawnLock());
    auto outPipe = makePipe();
    if (!outPipe) return outPipe.error();
    Result<Pipe> errPipe = Pipe{};
    if (!merged) {
        errPipe = makePipe();
        if (!errPipe) return errPipe.error();
    }
    const int childStderr = merged ? outPipe->writeEnd.get() : errPipe->writeEnd.get();

    FileActions actions;
    if (int error = actions.configure(outPipe->writeEnd.get(), childStderr); error != 0) return posixError(error);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(), argv.data(),
                                    environment ? envp.data() : processEnvironment());
    if (error != 0) return posixError(error);
    return LaunchedChild{std::make_shared<SpawnedChild>(pid), std::move(outPipe->readEnd), std::move(errPipe->readEnd)};
}

// Reads every pipe in `fds` until it reaches end of file, handing each chunk
// to consume(index of the pipe, bytes). Once the child has exited, pipes that
// something else holds open get kGraceAfterExit more, then what the pipes
// already hold is read and reading stops (a reader held up past the grace by
// a busy machine still gets every byte the child wrote). At `killAt` the
// child's group is killed and reading stops; returns whether that happened.
template <class Consume>
bool drain(SpawnedChild& child, std::span<const int> fds, Consume&& consume,
           std::optional<Clock::time_point> killAt = std::nullopt) {
    std::array<pollfd, 2> polled{};
    std::array<std::size_t, 2> pipeIndex{};
    std::array<bool, 2> open{};
    std::size_t openCount = fds.size();
    for (std::size_t i = 0; i < fds.size(); ++i) open[i] = true;

    std::vector<char> buffer(kReadChunk);
    auto nextExitCheck = Clock::now() + kExitCheckInterval;
    std::optional<Clock::time_point> deadline;
    // Past the grace only what is already buffered is read: more than any
    // pipe holds, and a bound for something that keeps writing.
    constexpr std::size_t kReadAfterGrace = std::size_t{1024} * 1024;
    std::size_t readAfterGrace = 0;

    while (openCount > 0) {
        const auto now = Clock::now();
        if (killAt && now >= *killAt && !child.hasExited()) {
            child.kill();
            return true;
        }
        if (!deadline && now >= nextExitCheck) {
            if (child.hasExited()) {
                deadline = now + LiveProcessRunner::kGraceAfterExit;
            } else {
                nextExitCheck = now + kExitCheckInterval;
            }
        }
        const bool pastGrace = deadline && now >= *deadline;
        if (pastGrace && readAfterGrace >= kReadAfterGrace) break;

        auto wakeAt = deadline ? *deadline : nextExitCheck;
        if (killAt && now < *killAt && *killAt < wakeAt) wakeAt = *killAt;  // a past one: the child has exited
        const auto timeout =
            pastGrace ? 0 : std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count());

        std::size_t count = 0;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!open[i]) continue;
            polled[count] = pollfd{fds[i], POLLIN, 0};
            pipeIndex[count] = i;
            ++count;
        }
        const int ready = ::poll(polled.data(), static_cast<nfds_t>(count), static_cast<int>(timeout));
        if (ready < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        if (ready == 0 && pastGrace) break;
        for (std::size_t slot = 0; slot < count; ++slot) {
            if (polled[slot].revents == 0) continue;
            const std::size_t index = pipeIndex[slot];
            const ssize_t got = ::read(fds[index], buffer.data(), buffer.size());
            if (got > 0) {
                if (pastGrace) readAfterGrace += static_cast<std::size_t>(got);
                consume(index, std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                open[index] = false;
                --openCount;
            }
        }
    }
    return false;
}

// Splits a byte stream into lines at LF, CR and CR LF, also when a CR LF is
// cut in two by the reads. Empty lines are kept.
class LineSplitter {
public:
    template <class Deliver>
    void feed(std::string_view data, Deliver&& deliver) {
        std::size_t start = 0;
        if (m_afterCarriageReturn && !data.empty()) {
            if (data.front() == '\n') start = 1;
            m_afterCarriageReturn = false;
        }
        for (std::size_t i = start; i < data.size(); ++i) {
            const char c = data[i];
            if (c != '\n' && c != '\r') continue;
            emit(data.substr(start, i - start), deliver);
            if (c == '\r') {
                if (i + 1 == data.size()) {
                    m_afterCarriageReturn = true;
                } else if (data[i + 1] == '\n') {
                    ++i;
                }
            }
            start = i + 1;
        }
        m_partial.append(data.substr(start));
    }

    // Delivers an unterminated last line.
    template <class Deliver>
    void finish(Deliver&& deliver) {
        if (!m_partial.empty()) deliver(std::string_view(m_partial));
        m_partial.clear();
    }

private:
    template <class Deliver>
    void emit(std::string_view piece, Deliver& deliver) {
        if (m_partial.empty()) {
            deliver(piece);
            return;
        }
        m_partial.append(piece);
        deliver(std::string_view(m_partial));
        m_partial.clear();
    }

    std::string m_partial;
    bool m_afterCarriageReturn = false;
};

void readLines(const std::shared_ptr<SpawnedChild>& child, UniqueFd pipe, const EventSink<ProcessStreamEvent>& sink) {
    LineSplitter splitter;
    const auto deliver = [&](std::string_view line) { sink.yield(process_event::Line{replacingInvalidUTF8(line)}); };
    const std::array fds{pipe.get()};
    drain(*child, fds, [&](std::size_t, std::string_view data) { splitter.feed(data, deliver); });
    splitter.finish(deliver);
    pipe.reset();
    const int code = child->wait();
    sink.yield(process_event::Exited{code});
    sink.finish();
}

}  // namespace

LiveProcessRunner::LiveProcessRunner() { ignoreBrokenPipes(); }

Result<ProcessResult> LiveProcessRunner::run(const std::string& executable, const std::vector<std::string>& arguments,
                                             const std::optional<Environment>& environment,
                                             const RunOptions& options) const {
    const auto startedAt = Clock::now();
    auto launched = launch(executable, arguments, environment, /*merged=*/false);
    if (!launched) return launched.error();

    std::optional<Clock::time_point> killAt;
    if (options.timeLimit) killAt = startedAt + *options.timeLimit;
    std::array<std::string, 2> outputs;
    const std::array fds{launched->stdoutPipe.get(), launched->stderrPipe.get()};
    const bool killed = drain(
        *launched->child, fds, [&](std::size_t index, std::string_view data) { outputs[index].append(data); }, killAt);
    launched->stdoutPipe.reset();
    launched->stderrPipe.reset();

    ProcessResult result;
    result.exitCode = launched->child->wait();
    result.stdoutText = replacingInvalidUTF8(outputs[0]);
    result.stderrText = replacingInvalidUTF8(outputs[1]);
    result.timedOut = killed;
    return result;
}

ProcessStream LiveProcessRunner::stream(const std::string& executable, const std::vector<std::string>& arguments,
                                        const std::optional<Environment>& environment) const {
    auto cancellation = std::make_shared<LiveProcessCancellation>();
    auto [events, sink] = makeEventStream<ProcessStreamEvent>();

    auto launched = launch(executable, arguments, environment, /*merged=*/true);
    if (!launched) {
        sink.yield(process_event::FailedToStart{launched.error().description});
        sink.finish();
        return {std::move(events), cancellation};
    }

    cancellation->attach(launched->child);
    // However the stream ends -- read to the end, or abandoned -- the child
    // (and its process group) is asked to stop; once reaped, nothing is sent.
    sink.onTermination([cancellation] { cancellation->cancel(); });

    try {
        std::thread(readLines, launched->child, std::move(launched->stdoutPipe), sink).detach();
    } catch (const std::system_error& error) {
        // No thread to read with: stop the child; its destructor reaps it.
        launched->child->terminate();
        sink.yield(process_event::FailedToStart{error.code().message()});
        sink.finish();
    }
    return {std::move(events), cancellation};
}

}  // namespace lumo
