#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace {

constexpr std::size_t chunk_size = 65536;

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(what);
    }
}

[[noreturn]] void exec_child(const std::string& program, const std::vector<std::string>& args,
                             const std::string& cwd, int in_fd, int out_fd, int err_fd) {
    dup2(in_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
        _exit(126);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Feeds input and drains both outputs until the child closes them.
void pump(const std::string& input, int in_fd, int out_fd, int err_fd, ChildResult& result) {
    std::size_t written = 0;
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    std::string* sinks[] = {&result.out, &result.err};
    int fds[] = {out_fd, err_fd};
    char buffer[chunk_size];
    while (fds[0] >= 0 || fds[1] >= 0 || in_fd >= 0) {
        pollfd polls[3] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        check(poll(polls, 3, -1) >= 0, "poll");
        for (int i = 0; i < 2; ++i) {
            if (fds[i] >= 0 && polls[i].revents != 0) {
                const ssize_t n = read(fds[i], buffer, sizeof buffer);
                if (n <= 0) {
                    close(fds[i]);
                    fds[i] = -1;
                } else {
                    sinks[i]->append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
        if (in_fd >= 0 && polls[2].revents != 0) {
            const ssize_t n = (polls[2].revents & POLLOUT) != 0
                                  ? write(in_fd, input.data() + written, input.size() - written)
                                  : -1;
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if (n <= 0 || written == input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
    }
}

}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input, const std::string& cwd) {
    std::signal(SIGPIPE, SIG_IGN);
    int in_pipe[2];
    int out_pipe[2];
    int err_pipe[2];
    check(pipe2(in_pipe, O_CLOEXEC) == 0 && pipe2(out_pipe, O_CLOEXEC) == 0 &&
              pipe2(err_pipe, O_CLOEXEC) == 0,
          "pipe");
    const pid_t pid = fork();
    check(pid >= 0, "fork");
    if (pid == 0) {
        exec_child(program, args, cwd, in_pipe[0], out_pipe[1], err_pipe[1]);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    ChildResult result;
    pump(input, in_pipe[1], out_pipe[0], err_pipe[0], result);
    int status = 0;
    check(waitpid(pid, &status, 0) == pid, "waitpid");
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

std::string make_temp_dir() {
    static std::vector<std::string> made;
    if (made.empty()) {
        std::atexit([] {
            for (const std::string& dir : made) {
                std::error_code ignored;
                std::filesystem::remove_all(dir, ignored);
            }
        });
    }
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/quorvel-test-XXXXXX";
    check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    made.push_back(pattern);
    return pattern;
}

std::string read_file(const std::string& path, bool* exists) {
    std::ifstream file(path, std::ios::binary);
    if (exists != nullptr) {
        *exists = static_cast<bool>(file);
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    check(static_cast<bool>(file), "write_file");
}
