#include "Spawn.h"

#include "Warden.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace halvora {

namespace {

// Between fork and exec only async-signal-safe calls: another thread may have held any lock.
[[noreturn]] void ExecChild(const SpawnRequest& R, pid_t AParent, int AErrFd) {
    for (int s = 1; s < NSIG; ++s) {
        struct sigaction sa {};
        sa.sa_handler = SIG_DFL;
        ::sigaction(s, &sa, nullptr); // fails harmlessly for SIGKILL, SIGSTOP and libc's own
    }
    // A group of its own: a terminal's Ctrl+C reaches this program alone, which then stops the
    // child as Stop does (a recording is finished, not cut off).
    ::setpgid(0, 0);
    if (R.deathSignal != 0) {
        if (::prctl(PR_SET_PDEATHSIG, R.deathSignal) != 0)
            goto failed;
        // The parent may have died before the line above, and then nobody will signal us.
        if (::getppid() != AParent)
            ::_exit(127);
    }
    {
        const int in = ::open("/dev/null", O_RDONLY);
        if (in < 0 || ::dup2(in, STDIN_FILENO) < 0)
            goto failed;
        if (in != STDIN_FILENO)
            ::close(in);
    }
    if (R.captureFile) {
        const int fd = ::open(R.captureFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0)
            goto failed;
        if (fd > STDERR_FILENO)
            ::close(fd);
    } else if (R.stderrFd >= 0 && ::dup2(R.stderrFd, STDERR_FILENO) < 0) {
        goto failed;
    }
    if (R.workDir && ::chdir(R.workDir) != 0)
        goto failed;
    {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
    }
    ::execve(R.path, R.argv, R.envp);
failed:
    const int e = errno;
    [[maybe_unused]] const ssize_t n = ::write(AErrFd, &e, sizeof e);
    ::_exit(127);
}

// Forks and execs on the calling thread; the exec's failure comes back through a pipe that
// closes on a successful exec.
pid_t ForkExec(const SpawnRequest& ARequest, int* AErr) {
    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        *AErr = errno;
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(errPipe[0]);
        ExecChild(ARequest, parent, errPipe[1]);
    }
    ::close(errPipe[1]);
    *AErr = pid < 0 ? errno : 0;
    int childErr = 0;
    ssize_t n = -1;
    if (pid > 0) {
        do
            n = ::read(errPipe[0], &childErr, sizeof childErr);
        while (n < 0 && errno == EINTR);
    }
    ::close(errPipe[0]);
    if (pid > 0 && n == static_cast<ssize_t>(sizeof childErr)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        *AErr = childErr;
        return -1;
    }
    return pid;
}

struct Job {
    const SpawnRequest* request;
    pid_t pid = -1;
    int err = 0;
    bool done = false;
};

// The thread that forks every child; never ends before the program does.
class Spawner {
public:
    Spawner() {
        std::thread([this] { loop(); }).detach();
    }
    pid_t spawn(const SpawnRequest& ARequest, int* AErr) {
        Job job{&ARequest};
        std::unique_lock<std::mutex> g(FLock);
        FJobs.push_back(&job);
        FWake.notify_all();
        FWake.wait(g, [&] { return job.done; });
        *AErr = job.err;
        return job.pid;
    }

private:
    void loop() {
        // Children start with every signal blocked and unblock them just before exec, so no
        // handler of this program runs in a child.
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, nullptr);
        std::unique_lock<std::mutex> g(FLock);
        for (;;) {
            FWake.wait(g, [&] { return !FJobs.empty(); });
            Job* job = FJobs.front();
            FJobs.pop_front();
            g.unlock();
            job->pid = ForkExec(*job->request, &job->err);
            if (job->pid > 0 && job->request->deathGraceMs > 0)
                WardenWatch(job->pid, job->request->deathGraceMs);
            g.lock();
            job->done = true;
            FWake.notify_all();
        }
    }

    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<Job*> FJobs;
};

} // namespace

pid_t SpawnChild(const SpawnRequest& ARequest, int* AErr) {
    // Never destroyed: the thread may still wait on it while static objects go at exit.
    static Spawner* spawner = new Spawner;
    int err = 0;
    const pid_t pid = spawner->spawn(ARequest, &err);
    if (AErr)
        *AErr = err;
    return pid;
}

} // namespace halvora
