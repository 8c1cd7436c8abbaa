#include "program_run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

std::string signal_name(int number) {
    const char* description = strsignal(number);
    return "signal " + std::to_string(number) + (description ? std::string(" (") + description + ")" : "");
}

// Why a limit or the viewer stopped the run, in words that claim only what
// the viewer knows.
std::string stop_words(const ChildResult& result, const RunLimits& limits) {
    if (result.stopped) {
        return "quorvel-view was interrupted";
    }
    if (result.term_signal == SIGXCPU || result.term_signal == SIGKILL) {
        // The kernel moves the soft limit up a second at each SIGXCPU, up to
        // the hard limit, which --cpu-time sets a second above it.
        const long long set = limits.cpu_seconds;
        const bool viewers_limit =
            set > 0 && (result.cpu_time_limit == set || result.cpu_time_limit == set + 1);
        return viewers_limit ? "it used more than " + std::to_string(limits.cpu_seconds) + " s of CPU time (--cpu-time)"
                             : "a CPU time limit (SIGXCPU)";
    }
    const bool viewers_limit =
        limits.file_size_mib > 0 && result.file_size_limit == static_cast<long long>(limits.file_size_mib * mebibyte);
    return viewers_limit ? "it wrote a file past the limit of " + std::to_string(limits.file_size_mib) +
                               " MiB (--file-size)"
                         : "a file size limit (SIGXFSZ)";
}

std::string not_started_reason(const ChildResult& result) {
    if (!result.start_error.empty()) {
        return result.start_error;
    }
    if (!result.refused.empty()) {
        return result.refused;
    }
    return result.exec_error == ENOEXEC ? "not an executable" : std::strerror(result.exec_error);
}

bool has_red_check(const HostView& view) {
    for (const ViewBox& box : view.boxes) {
        if (box_kind(box) == BoxKind::failed) {
            return true;
        }
    }
    return false;
}

std::size_t check_boxes(const HostView& view) {
    std::size_t checks = 0;
    for (const ViewBox& box : view.boxes) {
        checks += box_kind(box) != BoxKind::display ? 1U : 0U;
    }
    return checks;
}

// SIGKILL once its CPU time reached --cpu-time's hard limit, before any
// time-out: with many threads the hard limit can strike while the library
// still looks up the where of its SIGXCPU.
bool cpu_limit_killed(const ChildResult& result, const RunLimits& limits) {
    return result.term_signal == SIGKILL && limits.cpu_seconds > 0 && result.cpu_seconds >= limits.cpu_seconds;
}

bool ends_by_fault(RunStatus status) {
    return status == RunStatus::crashed || status == RunStatus::timed_out || status == RunStatus::stopped ||
           status == RunStatus::exited_non_zero;
}

}  // namespace

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

const char* status_name(RunStatus status) {
    switch (status) {
        case RunStatus::not_started: return "not started";
        case RunStatus::timed_out: return "timed out";
        case RunStatus::stopped: return "stopped";
        case RunStatus::crashed: return "crashed";
        case RunStatus::exited_non_zero: return "exited non-zero";
        case RunStatus::malformed: return "malformed";
        case RunStatus::incomplete: return "incomplete";
        case RunStatus::failed: return "failed";
        case RunStatus::passed: break;
    }
    return "passed";
}

void classify_run(ProgramRun& run, const RunLimits& limits) {
    const ChildResult& result = run.result;
    const std::string& program = run.program;
    run.problem.clear();
    if (result.not_started) {
        run.status = RunStatus::not_started;
        run.problem = (result.start_error.empty() ? "cannot run " : "cannot start ") + program + ": " +
                      not_started_reason(result);
    } else if (result.timed_out) {
        run.status = RunStatus::timed_out;
        run.problem = program + " did not finish within " + seconds_text(limits.timeout_seconds) + " s and was killed";
    } else if (result.stopped || result.term_signal == SIGXFSZ || result.term_signal == SIGXCPU ||
               cpu_limit_killed(result, limits)) {
        run.status = RunStatus::stopped;
        run.problem = program + " was stopped: " + stop_words(result, limits);
    } else if (result.term_signal != 0) {
        run.status = RunStatus::crashed;
        run.problem = program + " crashed: " + signal_name(result.term_signal);
    } else if (result.exit_code != 0) {
        run.status = RunStatus::exited_non_zero;
        run.problem = program + " exited with status " + std::to_string(result.exit_code);
    } else if (!run.view.ok) {
        run.status = RunStatus::malformed;
    } else if (check_boxes(run.view) < limits.checks) {
        run.status = RunStatus::incomplete;
        run.problem = std::to_string(check_boxes(run.view)) + " of " + std::to_string(limits.checks) +
                      " checks (--checks " + std::to_string(limits.checks) + ")";
    } else {
        run.status = has_red_check(run.view) ? RunStatus::failed : RunStatus::passed;
    }
}

bool RunCounts::error() const {
    return status != RunStatus::passed && status != RunStatus::failed && status != RunStatus::incomplete;
}

RunCounts count_run(const ProgramRun& run) {
    RunCounts counts;
    counts.status = run.status;
    for (const ViewBox& box : run.view.boxes) {
        const BoxKind kind = box_kind(box);
        counts.roles.push_back(kind == BoxKind::passed   ? BoxRole::passed_check
                               : kind == BoxKind::failed ? BoxRole::failed_check
                                                         : BoxRole::display);
    }
    if (ends_by_fault(counts.status) && !counts.roles.empty() && has_fault_style(run.view.boxes.back())) {
        counts.roles.back() = BoxRole::fault;
        counts.has_where = fault_where(run.view.boxes.back(), counts.where);
    }
    for (const BoxRole role : counts.roles) {
        counts.passed += role == BoxRole::passed_check ? 1U : 0U;
        counts.failed += role == BoxRole::failed_check ? 1U : 0U;
    }
    return counts;
}

std::vector<RunCounts> count_all(const std::vector<ProgramRun>& runs) {
    std::vector<RunCounts> all;
    all.reserve(runs.size());
    for (const ProgramRun& run : runs) {
        all.push_back(count_run(run));
    }
    return all;
}

std::string error_text(const ProgramRun& run, const RunCounts& counts) {
    if (!counts.error()) {
        return "";
    }
    return run.problem.empty() ? "malformed stream: " + run.view.error : run.problem;
}

std::string shortfall_text(const ProgramRun& run, const RunCounts& counts) {
    return counts.status == RunStatus::incomplete ? run.problem : "";
}

std::string fault_text(const ProgramRun& run, const RunCounts& counts) {
    return !counts.roles.empty() && counts.roles.back() == BoxRole::fault ? run.view.boxes.back().text : "";
}

int exit_value(const ChildResult& result) { return result.term_signal != 0 ? -result.term_signal : result.exit_code; }

std::string shown_stderr(const ChildResult& result) {
    if (result.err_dropped == 0) {
        return result.err;
    }
    return result.err + (result.err.empty() || result.err.back() == '\n' ? "" : "\n") + "[quorvel-view: " +
           std::to_string(result.err_dropped) + " more bytes of standard error left out]\n";
}

int exit_status_of(RunStatus status) {
    switch (status) {
        case RunStatus::passed: return 0;
        case RunStatus::failed:
        case RunStatus::incomplete: return exit_failed_check;
        case RunStatus::malformed: return exit_malformed;
        default: return exit_program;
    }
}

int check_exit_status(const std::vector<ProgramRun>& runs) {
    constexpr int seriousness[] = {exit_program, exit_malformed, exit_failed_check};
    for (const int status : seriousness) {
        for (const ProgramRun& run : runs) {
            if (exit_status_of(run.status) == status) {
                return status;
            }
        }
    }
    return 0;
}
