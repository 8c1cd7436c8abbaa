// quorvel-view - shows an exercise's boxes without the real host, and checks
// many exercises at once for CI.
//
//   quorvel-view [--html OUT.html] [--format F] [--output FILE] [FILE]
//   quorvel-view --run [--message-id N | --input FILE] [--timeout S] [--memory MIB]
//                [--html OUT.html] [--source-dir DIR] [--format F] [--output FILE]
//                -- PROGRAM [ARGS...]
//   quorvel-view --check [--message-id N | --input FILE] [--timeout S] [--memory MIB]
//                [-j N] [--shard K/N] [--format F] [--output FILE] PROGRAM...
//   quorvel-view --version
//
// F is text (the default), json, tap, junit or gradescope. --shard K/N sorts
// the programs by their bytes and runs the K-th of N interleaved shares, so
// that N jobs cover every program once whatever order their shells give.
//
// Exit status: 0 shown (with --check: every check passed), 1 malformed
// stream, 2 usage or file error, 3 a program crashed, timed out, could not
// start or exited non-zero, 4 (--check only) a check box is red. With
// several programs the most serious counts: 3, then 1, then 4. Interrupted
// by SIGINT or SIGTERM, it stops every program's group and ends by that
// signal.
//
// Bounds: a stream is at most exchange_stream_limit bytes (more, from a
// file or on a program's standard output, is malformed and left unread or
// dropped); a program's standard error is kept up to stderr_limit bytes and
// the rest counted; --input is at most image_size bytes, what the library
// reads.
#include "child_process.h"
#include "exchange.h"
#include "interrupt.h"
#include "options.h"
#include "render.h"
#include "report.h"
#include "sandbox.h"
#include "environment.h"
#include "source_line.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t stderr_limit = 64 * 1024;
constexpr double sandbox_probe_seconds = 10;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Now, as ISO 8601 local time without a zone, as JUnit's timestamp has it.
std::string timestamp_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&now, &local) != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    }
    return text;
}

enum class Read { ok, too_long, failed };

// At most limit bytes of path ("" or "-": standard input) into content;
// too_long when more follow, which are left unread.
Read read_bounded(const std::string& path, std::size_t limit, std::string& content) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (!path.empty() && path != "-") {
        file.open(path, std::ios::binary);
        if (!file) {
            return Read::failed;
        }
        in = &file;
    }
    content.resize(limit + 1);
    in->read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in->gcount()));
    if (in->bad()) {
        return Read::failed;
    }
    return content.size() > limit ? Read::too_long : Read::ok;
}

Error read_stream(const std::string& path, std::string& stream) {
    switch (read_bounded(path, exchange_stream_limit, stream)) {
        case Read::ok: return {};
        case Read::too_long:
            return {Problem::malformed,
                    "the stream has more than " + std::to_string(exchange_stream_limit) + " bytes"};
        case Read::failed: break;
    }
    return {Problem::file, "cannot read " + (path.empty() ? std::string("-") : path)};
}

// The message a host sends: the archived one, or a document with the id.
Error host_message(const Options& options, std::string& input) {
    input = "message_id: " + options.message_id + quorvel_separator;
    if (options.input_file.empty()) {
        return {};
    }
    switch (read_bounded(options.input_file, image_size, input)) {
        case Read::ok: return {};
        case Read::too_long:
            return {Problem::file, options.input_file + " has more than the " +
                                       std::to_string(image_size) + " bytes the library reads"};
        case Read::failed: break;
    }
    return {Problem::file, "cannot read " + options.input_file};
}

std::string signal_name(int number) {
    const char* description = strsignal(number);
    return "signal " + std::to_string(number) + (description ? std::string(" (") + description + ")" : "");
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// The sandbox of --sandbox, set up once by main.
SandboxOptions sandbox_settings;

// How the program's run went wrong, or "" when it exited 0.
std::string program_problem(const std::string& program, const ChildResult& result, const Options& options) {
    const double timeout = options.timeout;
    if (!result.start_error.empty()) {
        return "cannot start " + program + ": " + result.start_error;
    }
    if (result.not_started) {
        return "cannot run " + program + ": " + std::strerror(result.exec_error);
    }
    if (result.stopped) {
        return program + " was stopped: quorvel-view was interrupted";
    }
    if (result.timed_out) {
        return program + " did not finish within " + seconds_text(timeout) + " s and was killed";
    }
    if (result.term_signal == SIGXFSZ) {
        return program + " was stopped: it wrote a file past the limit of " +
               std::to_string(options.file_size_mib) + " MiB (--file-size)";
    }
    if (result.term_signal != 0) {
        return program + " crashed: " + signal_name(result.term_signal);
    }
    if (result.exit_code != 0) {
        return program + " exited with status " + std::to_string(result.exit_code);
    }
    return "";
}

// Runs a program as the host does, reading its answer as the host would.
ProgramRun run_one(const std::vector<std::string>& command, const std::string& input,
                   const Options& options) {
    ProgramRun run;
    run.program = command.front();
    const std::vector<std::string> args(command.begin() + 1, command.end());
    ChildOptions child;
    child.timeout_seconds = options.timeout;
    child.out_limit = exchange_stream_limit;
    child.err_limit = stderr_limit;
    child.memory_mib = options.memory_mib;
    child.file_size_mib = options.file_size_mib;
    child.stop_fd = interrupt_fd();
    child.environment = program_environment(environ, options.env);
    if (options.sandbox) {
        child.environment.push_back(std::string("HOME=") + sandbox_work_dir);
        child.environment.push_back(std::string("TMPDIR=") + sandbox_work_dir);
        child.sandbox = &sandbox_settings;
    }
    run.started = timestamp_now();
    const Clock::time_point start = Clock::now();
    run.result = run_child(run.program, args, input, child);
    run.seconds = seconds_since(start);
    run.problem = program_problem(run.program, run.result, options);
    if (run.result.out_dropped > 0) {
        run.view.error = "more than " + std::to_string(exchange_stream_limit) +
                         " bytes on standard output";
    } else {
        run.view = read_as_host(run.result.out);
    }
    return run;
}

// What a report needs of a run once its entry is made: the stream and its
// parsed document go.
void release_stream(ProgramRun& run) {
    std::string().swap(run.result.out);
    std::string().swap(run.view.document);
    std::string().swap(run.view.memory);
    run.view.other.clear();
    run.view.root = YamlNode{};
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

bool use_colour() {
    const char* no_colour = std::getenv("NO_COLOR");
    return is_terminal(STDOUT_FILENO) && (no_colour == nullptr || *no_colour == '\0');
}

// Runs every program, jobs at a time; the runs come back in the order given.
// On a terminal, standard error shows how many are done.
std::vector<ProgramRun> run_all(const Options& options, const std::string& input) {
    std::vector<ProgramRun> runs(options.command.size());
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const std::size_t jobs = std::min<std::size_t>(options.jobs > 0 ? static_cast<unsigned>(options.jobs) : cores,
                                                   runs.size());
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex progress;
    const bool show_progress = is_terminal(STDERR_FILENO);
    const auto work = [&] {
        for (std::size_t i = next++; i < runs.size(); i = next++) {
            runs[i] = run_one({options.command[i]}, input, options);
            release_stream(runs[i]);
            const std::lock_guard<std::mutex> lock(progress);
            ++done;
            if (show_progress) {
                std::cerr << "\rquorvel-view: " << done << "/" << runs.size() << " checked" << std::flush;
            }
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t j = 0; j < jobs; ++j) {
        workers.emplace_back(work);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (show_progress) {
        std::cerr << "\r\x1b[K" << std::flush;
    }
    return runs;
}

// The report in format; seconds: how long the runs took in all.
std::string report(const std::string& format, const std::vector<ProgramRun>& runs, double seconds) {
    if (format == "json") {
        return report_json(runs);
    }
    if (format == "gradescope") {
        return report_gradescope(runs, seconds);
    }
    if (format == "tap") {
        return report_tap(runs);
    }
    return format == "junit" ? report_junit(runs) : report_text(runs);
}

// Writes text to --output, or to standard output without one.
Error write_output(const Options& options, const std::string& text) {
    if (options.output.empty()) {
        std::cout << text;
        return {};
    }
    std::ofstream file(options.output, std::ios::binary | std::ios::trunc);
    file << text;
    return file.flush() ? Error{} : Error{Problem::file, "cannot write " + options.output};
}

Error write_html(const HostView& view, const std::string& path, const std::string& source) {
    std::ofstream page(path, std::ios::binary | std::ios::trunc);
    page << render_html(view, "quorvel preview", source);
    return page.flush() ? Error{} : Error{Problem::file, "cannot write " + path};
}

int exit_status(Problem problem) {
    switch (problem) {
        case Problem::none: return 0;
        case Problem::malformed: return exit_malformed;
        case Problem::program: return exit_program;
        case Problem::no_sandbox: return exit_no_sandbox;
        case Problem::usage:
        case Problem::file: break;
    }
    return exit_usage;
}

// The message of an error on standard error, after what was shown so far.
void report_error(const Error& error) {
    std::cout.flush();
    std::cerr << "quorvel-view: " << error.message << "\n";
    if (error.problem == Problem::usage) {
        std::cerr << usage_text();
    }
}

// With --shard K/N, the programs sorted by their bytes, every N-th from the
// K-th on; else all of them, in the order given.
std::vector<std::string> programs_of(const Options& options) {
    if (options.shards == 0) {
        return options.command;
    }
    std::vector<std::string> sorted = options.command;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> share;
    for (std::size_t i = static_cast<std::size_t>(options.shard - 1); i < sorted.size();
         i += static_cast<std::size_t>(options.shards)) {
        share.push_back(sorted[i]);
    }
    return share;
}

// --check: every program (of the share), one report; the status is
// check_exit_status's.
int check_programs(Options options) {
    std::string input;
    if (Error error = host_message(options, input)) {
        report_error(error);
        return exit_status(error.problem);
    }
    options.command = programs_of(options);
    const Clock::time_point start = Clock::now();
    const std::vector<ProgramRun> runs = run_all(options, input);
    if (Error error = write_output(options, report(options.format, runs, seconds_since(start)))) {
        report_error(error);
        return exit_status(error.problem);
    }
    return check_exit_status(runs);
}

// With --source-dir, the student's line that the run's fault box names.
std::string fault_source(const Options& options, const ProgramRun& run) {
    if (options.source_dir.empty()) {
        return "";
    }
    const RunCounts counts = count_run(run);
    return counts.has_where ? source_line(options.source_dir, counts.where) : "";
}

// --run or a stream, in one of the report formats; the exit status is the
// viewer's own (a red box does not change it).
int report_one(const Options& options, const ProgramRun& run) {
    Error written = write_output(options, report(options.format, {run}, run.seconds));
    if (!written && !options.html.empty() && run.view.ok) {
        written = write_html(run.view, options.html, fault_source(options, run));
    }
    if (written) {
        report_error(written);
        return exit_status(written.problem);
    }
    if (!run.problem.empty()) {
        report_error({Problem::program, run.problem});
        return exit_program;
    }
    return run.view.ok ? 0 : exit_malformed;
}

// Shows the standard error of a run, then hands back its view; a program
// that failed gives Problem::program, and the view still holds what it sent.
Error show_run(const ProgramRun& run, std::string& shown, HostView& view) {
    const std::string err = shown_stderr(run.result);
    if (!err.empty()) {
        shown += "standard error of " + run.program + ":\n" + err + (err.back() == '\n' ? "" : "\n");
    }
    view = run.view;
    return run.problem.empty() ? Error{} : Error{Problem::program, run.problem};
}

// --run or a stream, shown on the terminal (and as HTML with --html).
int show_one(const Options& options, const std::string& input) {
    std::string shown;
    HostView view;
    Error ran;
    std::string source;
    bool sent = true;  // a stream came, to show or to name as malformed
    if (options.run) {
        const ProgramRun run = run_one(options.command, input, options);
        ran = show_run(run, shown, view);
        source = fault_source(options, run);
        sent = !run.result.out.empty() || run.result.out_dropped > 0;
    } else {
        std::string stream;
        ran = read_stream(options.file, stream);
        view = ran ? HostView{} : read_as_host(stream);
    }
    if (!shown.empty()) {
        std::cout << shown;
    }
    if (ran) {
        report_error(ran);
        if (ran.problem != Problem::program || !sent) {
            return exit_status(ran.problem);
        }
    }
    if (!view.ok) {
        report_error({Problem::malformed, view.error});
        return exit_status(ran ? ran.problem : Problem::malformed);
    }
    Error written = write_output(options, render_terminal(view, options.output.empty() && use_colour(), source));
    if (!written && !options.html.empty()) {
        written = write_html(view, options.html, source);
    }
    if (written) {
        report_error(written);
        return exit_status(written.problem);
    }
    return exit_status(ran.problem);
}

// --sandbox: finds bubblewrap, and makes one sandbox that runs the viewer's
// own binary, to learn whether namespaces are allowed here.
Error set_up_sandbox(const Options& options) {
    sandbox_settings.helper = "/proc/self/exe";
    sandbox_settings.processes = options.processes;
    sandbox_settings.file_size_mib = options.file_size_mib;
    const std::string missing = find_sandbox_tools(sandbox_settings);
    if (!missing.empty()) {
        return {Problem::no_sandbox, missing};
    }
    ChildOptions probe;
    probe.sandbox = &sandbox_settings;
    probe.timeout_seconds = sandbox_probe_seconds;
    probe.err_limit = stderr_limit;
    const ChildResult result = run_child(sandbox_settings.helper, {"--version"}, "", probe);
    if (result.exit_code != 0) {
        const std::string why = result.err.empty() ? result.start_error : result.err;
        return {Problem::no_sandbox, "--sandbox: bubblewrap cannot make a sandbox here: " +
                                         why.substr(0, why.find_last_not_of('\n') + 1)};
    }
    return {};
}

// Runs or reads what the options ask for, and shows or reports it.
int view_or_run(const Options& options) {
    if (options.check) {
        return check_programs(options);
    }
    std::string input;
    if (options.run) {
        if (Error error = host_message(options, input)) {
            report_error(error);
            return exit_status(error.problem);
        }
    }
    if (options.format == "text") {
        return show_one(options, input);
    }
    if (options.run) {
        return report_one(options, run_one(options.command, input, options));
    }
    ProgramRun from_file;
    from_file.program = options.file.empty() ? "-" : options.file;
    from_file.result.exit_code = 0;
    from_file.started = timestamp_now();
    if (Error error = read_stream(options.file, from_file.result.out)) {
        if (error.problem != Problem::malformed) {
            report_error(error);
            return exit_status(error.problem);
        }
        from_file.view.error = error.message;
    } else {
        from_file.view = read_as_host(from_file.result.out);
    }
    return report_one(options, from_file);
}

}  // namespace

// Every error comes back here as an Error and leaves as one message and
// one exit status. SIGPIPE is ignored for the whole process: a program that
// exits before reading all of the message it is sent must not end the viewer
// when it writes the rest (the write fails with EPIPE instead).
int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], sandbox_helper_flag) == 0) {
        return sandbox_helper_main(argc, argv);
    }
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    if (Error error = parse_options(argc, argv, options)) {
        report_error(error);
        return exit_status(error.problem);
    }
    if (options.help) {
        std::cout << help_text();
        return 0;
    }
    if (options.version) {
        std::cout << "quorvel-view " << QUORVEL_VERSION << "\n";
        return 0;
    }
    if (options.run || options.check) {
        // Orphans of a program's group come to the viewer, which reaps them.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        watch_interrupts();
    }
    if (options.sandbox) {
        if (Error error = set_up_sandbox(options)) {
            report_error(error);
            return exit_status(error.problem);
        }
    }
    const int status = view_or_run(options);
    raise_interrupt_if_any();
    return status;
}
