// quorvel-view - shows an exercise's boxes without the real host.
//
//   quorvel-view [--html OUT.html] [FILE]
//   quorvel-view --run [--message-id N | --input FILE] [--timeout S]
//                [--html OUT.html] -- PROGRAM [ARGS...]
//
// Exit status: 0 shown, 1 malformed stream, 2 usage or file error,
// 3 the program crashed, timed out, could not start or exited non-zero.
#include "child_process.h"
#include "exchange.h"
#include "render.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int exit_malformed = 1;
constexpr int exit_usage = 2;
constexpr int exit_program = 3;
constexpr double default_timeout = 10;

const char* usage_text =
    "usage: quorvel-view [--html OUT.html] [FILE]\n"
    "       quorvel-view --run [--message-id N | --input FILE] [--timeout S]\n"
    "                    [--html OUT.html] -- PROGRAM [ARGS...]\n"
    "Reads an exchange stream (from FILE or standard input), or runs PROGRAM as\n"
    "a host would, and shows its boxes. NO_COLOR turns colours off.\n";

struct Options {
    bool help = false;
    bool run = false;
    std::string html;
    std::string file;
    std::string input_file;
    std::string message_id = "0";
    bool message_id_given = false;
    double timeout = default_timeout;
    std::vector<std::string> command;
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

// One option at argv[i] (moving i past its value); done is set at the
// first word that starts the program's command.
Error parse_option(int& i, int argc, char** argv, Options& options, bool& done) {
    const std::string arg = argv[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
        options.help = true;
    } else if (arg == "--run") {
        options.run = true;
    } else if (arg == "--html") {
        return value_of(i, argc, argv, options.html);
    } else if (arg == "--input") {
        return value_of(i, argc, argv, options.input_file);
    } else if (arg == "--message-id") {
        options.message_id_given = true;
        if (Error error = value_of(i, argc, argv, options.message_id)) {
            return error;
        }
        return is_integer(options.message_id) ? Error{} : usage_error("--message-id takes an integer");
    } else if (arg == "--timeout") {
        if (Error error = value_of(i, argc, argv, value)) {
            return error;
        }
        return parse_timeout(value, options.timeout);
    } else if (arg == "--") {
        ++i;
        done = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
        return usage_error("unknown option " + arg);
    } else if (options.run) {
        done = true;
    } else if (options.file.empty()) {
        options.file = arg;
    } else {
        return usage_error("more than one FILE");
    }
    return {};
}

Error check_options(const Options& options) {
    if (options.run && options.command.empty()) {
        return usage_error("--run needs a PROGRAM after --");
    }
    if (!options.run && (!options.command.empty() || !options.input_file.empty() ||
                         options.message_id_given)) {
        return usage_error("--input, --message-id and a PROGRAM go with --run");
    }
    if (!options.input_file.empty() && options.message_id_given) {
        return usage_error("give --message-id or --input, not both");
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

// Runs the program as the host does and puts its output stream in stream.
// Shows its standard error first. A program that failed gives Problem::program;
// stream still holds whatever it wrote.
Error run_program(const Options& options, std::string& stream) {
    std::string input = "message_id: " + options.message_id + quorvel_separator;
    if (!options.input_file.empty() && !read_all(options.input_file, input)) {
        return {Problem::file, "cannot read " + options.input_file};
    }
    const std::string& program = options.command.front();
    const std::vector<std::string> args(options.command.begin() + 1, options.command.end());
    const ChildResult result = run_child(program, args, input, "", options.timeout);
    if (!result.err.empty()) {
        std::cout << "standard error of " << program << ":\n" << result.err
                  << (result.err.back() == '\n' ? "" : "\n");
    }
    stream = result.out;
    const std::string problem = program_problem(program, result, options.timeout);
    return problem.empty() ? Error{} : Error{Problem::program, problem};
}

Error write_html(const HostView& view, const std::string& path) {
    std::ofstream page(path, std::ios::binary | std::ios::trunc);
    page << render_html(view, "quorvel preview");
    return page.flush() ? Error{} : Error{Problem::file, "cannot write " + path};
}

bool use_colour() {
    const char* no_colour = std::getenv("NO_COLOR");
    return isatty(STDOUT_FILENO) == 1 && (no_colour == nullptr || *no_colour == '\0');
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
void report(const Error& error) {
    std::cout.flush();
    std::cerr << "quorvel-view: " << error.message << "\n";
    if (error.problem == Problem::usage) {
        std::cerr << usage_text;
    }
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
        report(error);
        return exit_status(error.problem);
    }
    if (options.help) {
        std::cout << usage_text;
        return 0;
    }
    std::string stream;
    const Error ran = options.run ? run_program(options, stream) : read_stream(options.file, stream);
    if (ran) {
        report(ran);
        if (ran.problem != Problem::program || stream.empty()) {
            return exit_status(ran.problem);
        }
    }
    const HostView view = read_as_host(stream);
    if (!view.ok) {
        report({Problem::malformed, view.error});
        return exit_status(ran ? ran.problem : Problem::malformed);
    }
    std::cout << render_terminal(view, use_colour());
    if (!options.html.empty()) {
        if (Error error = write_html(view, options.html)) {
            report(error);
            return exit_status(error.problem);
        }
    }
    return exit_status(ran.problem);
}
