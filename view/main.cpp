// quorvel-view - shows an exercise's boxes without the real host, and checks
// many exercises at once for CI.
//
//   quorvel-view [--html OUT.html] [--format F] [--output FILE] [FILE]
//   quorvel-view --run [--message-id N | --input FILE] [--timeout S] [--memory MIB]
//                [--file-size MIB] [--env NAME[=VALUE]]... [--sandbox [--processes N]]
//                [--html OUT.html] [--source-dir DIR] [--format F] [--output FILE]
//                -- PROGRAM [ARGS...]
//   quorvel-view --check (the same options, but --html and --source-dir)
//                [-j N] [--shard K/N] [--checks N [--partial-credit]] [--points P]
//                [--visibility V] [--cpu-time S] PROGRAM...
//   quorvel-view --version
//
// F is one of report.h's formats (report_formats). --shard K/N sorts
// the programs by their bytes and runs the K-th of N interleaved shares, so
// that N jobs cover every program once whatever order their shells give.
//
// Exit statuses: program_run.h's table (exit_statuses). Interrupted by
// SIGINT or SIGTERM, it stops every program's group and ends by that
// signal.
//
// Bounds: a stream is at most exchange_stream_limit bytes (more, from a
// file or on a program's standard output, is malformed and left unread or
// dropped); a program's standard error is kept up to stderr_limit bytes and
// the rest counted; --input is at most image_size bytes, what the library
// reads.
#include "child_process.h"
#include "fault_point.h"
#include "exchange.h"
#include "interrupt.h"
#include "options.h"
#include "output_file.h"
#include "render.h"
#include "report.h"
#include "runs.h"
#include "source_line.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

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
            return {Problem::malformed, "the stream has " + stream_too_long()};
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

bool use_colour() {
    const char* no_colour = std::getenv("NO_COLOR");
    return is_terminal(STDOUT_FILENO) && (no_colour == nullptr || *no_colour == '\0');
}

// The report in format; seconds: how long the runs took in all.
std::string report(const Options& options, const std::vector<ProgramRun>& runs, double seconds) {
    ReportContext context;
    context.seconds = seconds;
    context.check = options.check;
    context.checks = options.checks;
    context.points_hundredths = options.points_hundredths;
    context.partial_credit = options.partial_credit;
    context.visibility = options.visibility;
    for (const ReportFormat& each : report_formats) {
        if (options.format == each.name) {
            return each.write(runs, context);
        }
    }
    return report_formats[0].write(runs, context);
}

// Writes text to standard output, all of it or an error that says why not
// (a full disk, a closed pipe): a report cut short is never a success.
Error write_standard_output(const std::string& text) {
    std::cout.flush();
    const int error = write_all(STDOUT_FILENO, text);
    return error == 0 ? Error{} : Error{Problem::file, std::string("cannot write standard output: ") + std::strerror(error)};
}

// Writes text to --output, or to standard output without one.
Error write_output(const Options& options, const std::string& text) {
    if (options.output.empty()) {
        return write_standard_output(text);
    }
    return write_output_file(options.output, text);
}

Error write_html(const HostView& view, const std::string& path, const std::string& source) {
    return write_output_file(path, render_html(view, "quorvel preview", source));
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
    if (Error error = write_output(options, report(options, runs, seconds_since(start)))) {
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
    Error written = write_output(options, report(options, {run}, run.seconds));
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
    if (Error written = write_standard_output(shown)) {
        report_error(written);
        return exit_status(written.problem);
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

// Orphans of a program's group come to the viewer, which reaps them; where
// that is refused, they go to init, and a run still ends with its program.
int become_subreaper() {
    QUORVEL_FAULT_POINT("viewer/prctl", EINVAL, -1);
    return prctl(PR_SET_CHILD_SUBREAPER, 1);
}

// A program of the viewer's own user can then neither read the viewer's
// environment or memory through /proc nor trace it (the program itself is
// dumpable again once it execs). The viewer leaves no core dump.
void keep_apart() { prctl(PR_SET_DUMPABLE, 0); }

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
    classify_run(from_file, {});
    return report_one(options, from_file);
}

}  // namespace

// Every error comes back here as an Error and leaves as one message and
// one exit status. SIGPIPE is ignored for the whole process: a program that
// exits before reading all of the message it is sent must not end the viewer
// when it writes the rest (the write fails with EPIPE instead).
int main(int argc, char** argv) {
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
        keep_apart();
        become_subreaper();
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
