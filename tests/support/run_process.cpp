#include "support/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace testing_support {
namespace {

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Reads both pipes until both are closed; reading them in turn could
// deadlock once a child fills one while the test waits on the other. Sends
// the options' signal to `pid` when its time comes.
void Drain(int outFd, int errFd, std::string* out, std::string* err, pid_t pid,
           const ProcessOptions& options) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point signalAt = Clock::now() + options.signalAfter;
  bool signalPending = options.signal != 0;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = 2;
  while (open > 0) {
    timespec wait{};
    if (signalPending) {
      const auto left =
          std::chrono::duration_cast<std::chrono::nanoseconds>(signalAt - Clock::now());
      if (left.count() <= 0) {
        kill(pid, options.signal);
        signalPending = false;
      } else {
        wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
      }
    }
    if (ppoll(fds, 2, signalPending ? &wait : nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  std::vector<std::string> argvStrings{program};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv = CStrings(argvStrings);
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  if (options.env) {
    envStrings = *options.env;
    envp = CStrings(envStrings);
  }

  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to exec.
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0) {
      _exit(126);
    }
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (kAddressSpaceLimitsApply && options.addressSpaceKib != 0) {
      const rlimit limit{options.addressSpaceKib * 1024, options.addressSpaceKib * 1024};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    execve(program.c_str(), argv.data(), options.env ? envp.data() : environ);
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  Drain(outPipe[0], errPipe[0], &result.out, &result.err, pid, options);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  return result;
}

ProcessResult RunOvkconv(const std::vector<std::string>& args, const ProcessOptions& options) {
  return RunProcess(OVKCONV_PATH, args, options);
}

}  // namespace testing_support
