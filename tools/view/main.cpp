// quorvel-view - shows an exercise's boxes without the real host, and checks
// many exercises at once for CI.
//
//   quorvel-view [--html OUT.html] [--format F] [--output FILE] [FILE]
//   quorvel-view --run [--message-id N | --input FILE] [--timeout S]
//                [--html OUT.html] [--format F] [--output FILE] -- PROGRAM [ARGS...]
//   quorvel-view --check [--message-id N | --input FILE] [--timeout S] [-j N]
//                [--format F] [--output FILE] PROGRAM...
//
// F is text (the default), json, tap or junit.
//
// Exit status: 0 shown (with --check: every check passed), 1 malformed
// stream, 2 usage or file error, 3 a program crashed, timed out, could not
// start or exited non-zero, 4 (--check only) a check box is red. With
// several programs the most serious counts: 3, then 1, then 4.
#include "child_process.h"
#include "exchange.h"
#include "render.h"
#include "report.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double default_timeout = 10;
constexpr int most_jobs = 256;

const char* usage_text =
    "usage: quorvel-view [--html OUT.html] [--format F] [--output FILE] [FILE]\n"
    "       quorvel-view --run [--message-id N | --input FILE] [--timeout S]\n"
    "                    [--html OUT.html] [--format F] [--output FILE] -- PROGRAM [ARGS...]\n"
    "       quorvel-view --check [--message-id N | --input FILE] [--timeout S] [-j N]\n"
    "                    [--format F] [--output FILE] PROGRAM...\n"
    "Reads an exchange stream (from FILE or standard input), or runs PROGRAM as\n"
    "a host would, and shows its boxes; --check runs each PROGRAM and reports.\n"
    "F: text (default), json, tap, junit. NO_COLOR turns colours off.\n";

struct Options {
    bool help = false;
    bool run = false;
    bool check = false;
    std::string html;
    std::string file;
    std::string input_file;
    std::string message_id = "0";
    bool message_id_given = false;
    double timeout = default_timeout;
    int jobs = 0;  // 0: one per core
    std::string format = "text";
    std::string output;
    std::vector<std::string> command;  // --run: the program and its arguments; --check: programs
};

// What went wrong; main alone turns it into a message and an exit status.
enum class Problem { none, usage, file, malformed, program };

struct Error {
    Problem problem = Problem::none;
    std::string message;
    explicit operator bool() const { return problem != Problem::none; }
};

Error usage_error(const std::string& message) { return {Problem::usage, message}; }

bool is_integer(const std::string& text) {
    const std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
    return text.size() > digits && text.size() < 12 &&
           text.find_first_not_of("0123456789", digits) == std::string::npos;
}

Error value_of(int& i, int argc, char** argv, std::string& value) {
    if (i + 1 >= argc) {
        return usage_error(std::string(argv[i]) + " needs a value");
    }
    value = argv[++i];
    return {};
}

Error parse_timeout(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400) {
        return usage_error("--timeout takes a number of seconds above 0");
    }
    return {};
}

Error parse_jobs(const std::string& text, int& jobs) {
    if (!is_integer(text) || text[0] == '-' || std::stoi(text) < 1 || std::stoi(text) > most_jobs) {
        return usage_error("-j takes a number of parallel runs from 1 to " + std::to_string(most_jobs));
    }
    jobs = std::stoi(text);
    return {};
}

Error parse_format(const std::string& text, std::string& format) {
    if (text != "text" && text != "json" && text != "tap" && text != "junit") {
        return usage_error("--format takes text, json, tap or junit");
    }
    format = text;
    return {};
}

// An option that takes a value, at argv[i]; false when arg is none of them.
bool parse_valued_option(const std::string& arg, int& i, int argc, char** argv, Options& options,
                         Error& error) {
    std::string value;
    if (arg == "--html") {
        error = value_of(i, argc, argv, options.html);
    } else if (arg == "--input") {
        error = value_of(i, argc, argv, options.input_file);
    } else if (arg == "--output") {
        error = value_of(i, argc, argv, options.output);
    } else if (arg == "--message-id") {
        options.message_id_given = true;
        error = value_of(i, argc, argv, options.message_id);
        if (!error && !is_integer(options.message_id)) {
            error = usage_error("--message-id takes an integer");
        }
    } else if (arg == "--timeout") {
        error = value_of(i, argc, argv, value);
        error = error ? error : parse_timeout(value, options.timeout);
    } else if (arg == "-j") {
        error = value_of(i, argc, argv, value);
        error = error ? error : parse_jobs(value, options.jobs);
    } else if (arg == "--format") {
        error = value_of(i, argc, argv, value);
        error = error ? error : parse_format(value, options.format);
    } else {
        return false;
    }
    return true;
}

// One option at argv[i] (moving i past its value); done is set at the
// first word that starts the program's command.
Error parse_option(int& i, int argc, char** argv, Options& options, bool& done) {
    const std::string arg = argv[i];
    Error error;
    if (parse_valued_option(arg, i, argc, argv, options, error)) {
        return error;
    }
    if (arg == "--help" || arg == "-h") {
        options.help = true;
    } else if (arg == "--run") {
        options.run = true;
    } else if (arg == "--check") {
        options.check = true;
    } else if (arg == "--") {
        ++i;
        done = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
        return usage_error("unknown option " + arg);
    } else if (options.run) {
        done = true;
    } else if (options.check) {
        options.command.push_back(arg);
    } else if (options.file.empty()) {
        options.file = arg;
    } else {
        return usage_error("more than one FILE");
    }
    return {};
}

Error check_options(const Options& options) {
    if (options.run && options.check) {
        return usage_error("give --run or --check, not both");
    }
    if (options.run && options.command.empty()) {
        return usage_error("--run needs a PROGRAM after --");
    }
    if (options.check && options.command.empty()) {
        return usage_error("--check needs at least one PROGRAM");
    }
    if (options.check && !options.html.empty()) {
        return usage_error("--html goes with one program or stream, not with --check");
    }
    if (!options.run && !options.check &&
        (!options.command.empty() || !options.input_file.empty() || options.message_id_given)) {
        return usage_error("--input, --message-id and a PROGRAM go with --run or --check");
    }
    if (!options.input_file.empty() && options.message_id_given) {
        return usage_error("give --message-id or --input, not both");
    }
    if (options.jobs != 0 && !options.check) {
        return usage_error("-j goes with --check");
    }
    return {};
}

Error parse_options(int argc, char** argv, Options& options) {
    int i = 1;
    for (bool done = false; i < argc && !done && !options.help;) {
        if (Error error = parse_option(i, argc, argv, options, done)) {
            return error;
        }
        i += done ? 0 : 1;
    }
    for (; i < argc; ++i) {
        options.command.emplace_back(argv[i]);
    }
    return options.help ? Error{} : check_options(options);
}

bool read_all(const std::string& path, std::string& content) {
    if (path.empty() || path == "-") {
        content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

Error read_stream(const std::string& path, std::string& stream) {
    return read_all(path, stream) ? Error{} : Error{Problem::file, "cannot read " + path};
}

// The message a host sends: the archived one, or a document with the id.
Error host_message(const Options& options, std::string& input) {
    input = "message_id: " + options.message_id + quorvel_separator;
    if (!options.input_file.empty() && !read_all(options.input_file, input)) {
        return {Problem::file, "cannot read " + options.input_file};
    }
    return {};
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

// How the program's run went wrong, or "" when it exited 0.
std::string program_problem(const std::string& program, const ChildResult& result, double timeout) {
    if (!result.start_error.empty()) {
        return "cannot start " + program + ": " + result.start_error;
    }
    if (result.not_started) {
        return "cannot run " + program;
    }
    if (result.timed_out) {
        return program + " did not finish within " + seconds_text(timeout) + " s and was killed";
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
                   double timeout) {
    ProgramRun run;
    run.program = command.front();
    const std::vector<std::string> args(command.begin() + 1, command.end());
    run.result = run_child(run.program, args, input, "", timeout);
    run.problem = program_problem(run.program, run.result, timeout);
    run.view = read_as_host(run.result.out);
    return run;
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
            runs[i] = run_one({options.command[i]}, input, options.timeout);
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

std::string report(const std::string& format, const std::vector<ProgramRun>& runs) {
    if (format == "json") {
        return report_json(runs);
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

Error write_html(const HostView& view, const std::string& path) {
    std::ofstream page(path, std::ios::binary | std::ios::trunc);
    page << render_html(view, "quorvel preview");
    return page.flush() ? Error{} : Error{Problem::file, "cannot write " + path};
}

int exit_status(Problem problem) {
    switch (problem) {
        case Problem::none: return 0;
        case Problem::malformed: return exit_malformed;
        case Problem::program: return exit_program;
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
        std::cerr << usage_text;
    }
}

// --check: every program, one report; the status is check_exit_status's.
int check_programs(const Options& options) {
    std::string input;
    if (Error error = host_message(options, input)) {
        report_error(error);
        return exit_status(error.problem);
    }
    const std::vector<ProgramRun> runs = run_all(options, input);
    if (Error error = write_output(options, report(options.format, runs))) {
        report_error(error);
        return exit_status(error.problem);
    }
    return check_exit_status(runs);
}

// --run or a stream, in one of the report formats; the exit status is the
// viewer's own (a red box does not change it).
int report_one(const Options& options, const ProgramRun& run) {
    Error written = write_output(options, report(options.format, {run}));
    if (!written && !options.html.empty() && run.view.ok) {
        written = write_html(run.view, options.html);
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

// Shows the standard error of a run, then hands back its stream; a program
// that failed gives Problem::program, and stream still holds what it wrote.
Error show_run(const ProgramRun& run, std::string& shown, std::string& stream) {
    if (!run.result.err.empty()) {
        shown += "standard error of " + run.program + ":\n" + run.result.err +
                 (run.result.err.back() == '\n' ? "" : "\n");
    }
    stream = run.result.out;
    return run.problem.empty() ? Error{} : Error{Problem::program, run.problem};
}

// --run or a stream, shown on the terminal (and as HTML with --html).
int show_one(const Options& options, const std::string& input) {
    std::string shown;
    std::string stream;
    Error ran;
    if (options.run) {
        ran = show_run(run_one(options.command, input, options.timeout), shown, stream);
    } else {
        ran = read_stream(options.file, stream);
    }
    if (!shown.empty()) {
        std::cout << shown;
    }
    if (ran) {
        report_error(ran);
        if (ran.problem != Problem::program || stream.empty()) {
            return exit_status(ran.problem);
        }
    }
    const HostView view = read_as_host(stream);
    if (!view.ok) {
        report_error({Problem::malformed, view.error});
        return exit_status(ran ? ran.problem : Problem::malformed);
    }
    Error written = write_output(options, render_terminal(view, options.output.empty() && use_colour()));
    if (!written && !options.html.empty()) {
        written = write_html(view, options.html);
    }
    if (written) {
        report_error(written);
        return exit_status(written.problem);
    }
    return exit_status(ran.problem);
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
        std::cout << usage_text;
        return 0;
    }
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
        return report_one(options, run_one(options.command, input, options.timeout));
    }
    ProgramRun from_file;
    from_file.program = options.file.empty() ? "-" : options.file;
    from_file.result.exit_code = 0;
    if (Error error = read_stream(options.file, from_file.result.out)) {
        report_error(error);
        return exit_status(error.problem);
    }
    from_file.view = read_as_host(from_file.result.out);
    return report_one(options, from_file);
}
