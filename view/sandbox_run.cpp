// One run in a warm sandbox: the request to its helper, the pipes pumped
// while the helper watches the program, and its end as the helper told it.
#include "child_process.h"
#include "fault_point.h"
#include "program_file.h"
#include "pump.h"
#include "sandbox.h"
#include "start_program.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr char sandbox_failed[] = "the sandbox failed";

// The program as the helper tells of it.
class HelperWatch : public Watched {
public:
    HelperWatch(int socket, std::function<bool(HelperReply&)> receive,
                std::function<bool(int)> send_signal)
        : socket_(socket), receive_(std::move(receive)), send_signal_(std::move(send_signal)) {}

    int fd() const override { return socket_; }
    bool ended() override {
        if (!receive_(end)) {
            lost = true;
            return true;
        }
        return end.kind == ReplyKind::ended || end.kind == ReplyKind::exec_failed;
    }
    void signal(int signal) override { send_signal_(signal); }
    bool give_up() override {
        lost = true;
        return true;
    }

    HelperReply end{};
    bool lost = false;  // the helper's socket closed, failed, or it did not answer

private:
    int socket_;
    std::function<bool(HelperReply&)> receive_;
    std::function<bool(int)> send_signal_;
};

void settle(const HelperWatch& watch, ChildResult& result) {
    const bool decided = result.timed_out || result.stopped;
    if (watch.lost) {
        result.not_started = !decided;
        result.start_error = decided ? "" : sandbox_failed;
    } else if (watch.end.kind == ReplyKind::exec_failed) {
        result.not_started = true;
        result.exec_error = watch.end.value;
    } else {
        take_wait_status(result, watch.end.value);
        result.file_size_limit = watch.end.file_size_limit;
        result.cpu_time_limit = watch.end.cpu_time_limit;
        result.max_rss_kib = watch.end.max_rss_kib;
        result.cpu_seconds = watch.end.cpu_seconds;
    }
}

// Reads the pipes to their ends, which come once every process of the run
// is gone, for a grace at most.
void drain_to_end(Pump& pump) {
    const Clock::time_point grace_end = after(stop_grace_seconds);
    for (pump.drain_outputs(); (pump.out >= 0 || pump.err >= 0) && Clock::now() < grace_end; pump.drain_outputs()) {
        pollfd polls[2] = {{pump.out, POLLIN, 0}, {pump.err, POLLIN, 0}};
        poll(polls, 2, milliseconds_until(grace_end));
    }
}

bool not_started(ChildResult& result, const std::string& why) {
    result.not_started = true;
    result.start_error = why;
    return false;
}

}  // namespace

bool Sandbox::send_request(const RunRequest& request, const std::vector<std::string>& strings, const int* fds,
                           std::size_t fd_count) {
    QUORVEL_FAULT_POINT("viewer/sendmsg", EPIPE, false);
    return send_message(socket_, &request, sizeof request, strings, fds, fd_count);
}

void Sandbox::await_empty(Pump& pump) {
    const Clock::time_point bound = after(sandbox_emptying_bound);
    HelperReply reply{};
    bool empty = false;
    while (!empty && Clock::now() < bound) {
        pollfd polls[3] = {{socket_, POLLIN, 0}, {pump.out, POLLIN, 0}, {pump.err, POLLIN, 0}};
        if (poll(polls, 3, milliseconds_until(bound)) > 0 && polls[0].revents != 0) {
            empty = receive_reply(reply) && reply.kind == ReplyKind::empty;
            if (!empty) {
                break;
            }
        }
        pump.drain_outputs();
    }
    if (!empty) {
        stop();
    }
}

ChildResult Sandbox::run(const ProgramFile& program, const std::vector<std::string>& args, const std::string& input,
                         const ChildOptions& options) {
    ChildResult result;
    std::string why_not;
    int fds[run_descriptors] = {sealed_copy(program, why_not), -1, -1, -1};
    if (fds[run_program] < 0) {
        result.not_started = true;
        result.refused = why_not;
        return result;
    }
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    const std::string why = start();
    if (!why.empty()) {
        not_started(result, "the sandbox could not be made: " + why);
    } else if (make_pipe(in) != 0 || make_pipe(out) != 0 || make_pipe(err) != 0) {
        not_started(result, std::string("pipe: ") + std::strerror(errno));
    } else {
        fds[run_stdin] = in[0];
        fds[run_stdout] = out[1];
        fds[run_stderr] = err[1];
        std::vector<std::string> strings = {sandbox_program};
        strings.insert(strings.end(), args.begin(), args.end());
        const RunRequest request{RequestKind::run, 0, options_.processes, options.file_size_mib * mebibyte,
                                 options.memory_mib * mebibyte, options.cpu_seconds,
                                 static_cast<unsigned>(strings.size())};
        const std::vector<std::string> environment = environment_of(options);
        strings.insert(strings.end(), environment.begin(), environment.end());
        if (!send_request(request, strings, fds, run_descriptors)) {
            not_started(result, std::string(sandbox_failed) + ": " + std::strerror(errno));
            stop();
        }
    }
    // The helper has its own copies now: the program's ends close here.
    for (int* end : {&fds[run_program], &in[0], &out[1], &err[1]}) {
        close_fd(*end);
    }
    if (result.not_started) {
        for (int* end : {&in[1], &out[0], &err[0]}) {
            close_fd(*end);
        }
        return result;
    }
    HelperWatch watch(
        socket_, [this](HelperReply& reply) { return receive_reply(reply); },
        [this](int signal) {
            const RunRequest request{RequestKind::signal, signal, 0, 0, 0, 0, 0};
            return send_request(request, {}, nullptr, 0);
        });
    Pump pump{input, options, result, watch};
    pump.start(in[1], out[0], err[0]);
    fiu_do_on("viewer/helper_killed", kill(-pid_, SIGKILL));
    if (!pump.pump()) {
        watch.lost = true;
    }
    if (watch.lost) {
        stop();
    } else {
        await_empty(pump);
    }
    drain_to_end(pump);
    pump.close_pipes();
    settle(watch, result);
    return result;
}
