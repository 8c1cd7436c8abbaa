#include "options.h"

#include "environment.h"
#include "report.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>

namespace {

constexpr char synopsis[] =
    "usage: quorvel-view [--html OUT.html] [--format F] [--output FILE] [FILE]\n"
    "       quorvel-view --run [--message-id N | --input FILE] [--timeout S] [--memory MIB]\n"
    "                    [--file-size MIB] [--env NAME[=VALUE]]... [--sandbox [--processes N]]\n"
    "                    [--html OUT.html] [--source-dir DIR] [--format F] [--output FILE]\n"
    "                    -- PROGRAM [ARGS...]\n"
    "       quorvel-view --check [--message-id N | --input FILE] [--timeout S] [--memory MIB]\n"
    "                    [--file-size MIB] [--env NAME[=VALUE]]... [--sandbox [--processes N]]\n"
    "                    [-j N] [--shard K/N] [--checks N [--partial-credit]] [--points P]\n"
    "                    [--visibility V] [--cpu-time S] [--format F] [--output FILE] PROGRAM...\n"
    "       quorvel-view --version\n";

constexpr char description[] =
    "\nReads an exchange stream (from FILE or standard input), or runs PROGRAM as\n"
    "a host would, and shows its boxes; --check runs each PROGRAM and reports.\n\n";


constexpr std::size_t help_width = 78;
constexpr char mode_group[] = "Modes";
constexpr char stream_group[] = "A stream, --run and --check";
constexpr char one_group[] = "A stream and --run";
constexpr char runs_group[] = "--run and --check";
constexpr char check_group[] = "--check";


// --help's layout: the synopsis and what the program does, then a group of
// options for each mode, a blank line between them.
class Help : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App* /*app*/, std::string /*name*/) const override {
        return std::string(synopsis) + description;
    }
    std::string make_description(const CLI::App* /*app*/) const override { return ""; }
    std::string make_group(std::string group, bool is_positional,
                           std::vector<const CLI::Option*> opts) const override {
        return CLI::Formatter::make_group(std::move(group), is_positional, std::move(opts)).substr(1);
    }
};

Error usage_error(const std::string& message) { return {Problem::usage, message}; }

// A whole decimal number in text, within [low, high].
template <typename Number>
bool whole_number(const std::string& text, Number low, Number high, Number& value) {
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    return !text.empty() && read.ec == std::errc() && read.ptr == end && value >= low && value <= high;
}

bool is_integer(const std::string& text) {
    const std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
    return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

bool parse_timeout(const std::string& text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && seconds > 0 && seconds <= most_timeout;
}

// A number of points: above 0, at most 1000, digits with at most two
// decimals after a dot (no sign, no exponent), in hundredths.
bool parse_points(const std::string& text, long& hundredths) {
    const std::size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string decimals = dot == std::string::npos ? "" : text.substr(dot + 1);
    long units = 0;
    long fraction = 0;
    if (decimals.size() > 2 || (dot != std::string::npos && decimals.empty()) ||
        !whole_number(whole, 0L, most_points_hundredths / 100, units) ||
        (!decimals.empty() && !whole_number(decimals, 0L, 99L, fraction))) {
        return false;
    }
    hundredths = units * 100 + fraction * (decimals.size() == 1 ? 10 : 1);
    return hundredths > 0 && hundredths <= most_points_hundredths;
}

// K/N: the K-th (from 1) of N shares.
bool parse_shard(const std::string& text, int& shard, int& shards) {
    const std::size_t slash = text.find('/');
    return slash != std::string::npos && whole_number(text.substr(slash + 1), 1, most_shards, shards) &&
           whole_number(text.substr(0, slash), 1, shards, shard);
}

// An option whose text read sets its value; a text that read refuses is
// the usage error message. CLI11 reads integers itself with base 0 (010
// is 8, 0x10 is 16), so numbers come as text and are read here.
template <typename Read>
CLI::Option* add_read_option(CLI::App& app, const std::string& name, Read read, const std::string& message,
                             const std::string& help) {
    return app.add_option_function<std::string>(
        name,
        [read, message](const std::string& text) {
            if (!read(text)) {
                throw CLI::ValidationError(message);
            }
        },
        help);
}

// A whole decimal number from low to high: a number of what.
template <typename Number>
CLI::Option* add_number(CLI::App& app, const std::string& name, Number& value, Number low, Number high,
                        const std::string& what, const std::string& help) {
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    return add_read_option(
        app, name, [&value, low, high](const std::string& text) { return whole_number(text, low, high, value); },
        name + " takes a number of " + what + " from " + range, help + ", " + range);
}

// An option that takes one of names: "what: a, b, c" and then note.
CLI::Option* add_choice(CLI::App& app, const std::string& name, std::string& value,
                        const std::vector<std::string>& names, const std::string& what, const std::string& note = "") {
    std::string list;
    for (const std::string& each : names) {
        list += (list.empty() ? "" : ", ") + each;
    }
    return add_read_option(
        app, name,
        [&value, names](const std::string& text) {
            value = text;
            return std::find(names.begin(), names.end(), text) != names.end();
        },
        name + " takes " + list, what + ": " + list + note);
}

// The options of the stream's report and view.
void declare_stream_options(CLI::App& app, Options& options) {
    std::vector<std::string> formats;
    for (const ReportFormat& format : report_formats) {
        formats.emplace_back(format.name);
    }
    add_choice(app, "--format", options.format, formats, "the report",
               std::string(" (default: ") + report_formats[0].name + ", the boxes)")
        ->type_name("F")
        ->group(stream_group);
    app.add_option("--output", options.output, "write the report or view to FILE")
        ->type_name("FILE")
        ->group(stream_group);
    app.add_option("--html", options.html, "also write an HTML preview of the boxes")
        ->type_name("OUT.html")
        ->group(one_group);
    app.add_option("--source-dir", options.source_dir,
                   "--run: show the line of the student's source in DIR that a fault box names")
        ->type_name("DIR")
        ->group(one_group);
}

// The options of --run and --check: the message, the limits, the sandbox.
void declare_run_options(CLI::App& app, Options& options) {
    add_read_option(
        app, "--message-id",
        [&options](const std::string& text) {
            options.message_id = text;
            options.message_id_given = true;
            return is_integer(text);
        },
        "--message-id takes an integer", "send the message \"message_id: N\" (default " + Options{}.message_id + ")")
        ->type_name("N")
        ->group(runs_group);
    app.add_option("--input", options.input_file, "send the archived message in FILE")
        ->type_name("FILE")
        ->group(runs_group);
    add_read_option(
        app, "--timeout", [&options](const std::string& text) { return parse_timeout(text, options.timeout); },
        "--timeout takes a number of seconds above 0, at most " + seconds_text(most_timeout),
        "stop each program after S seconds, up to " + seconds_text(most_timeout) + " (default " +
            seconds_text(default_timeout) + ")")
        ->type_name("S")
        ->group(runs_group);
    add_number<std::size_t>(app, "--memory", options.memory_mib, 1, most_memory_mib, "MiB",
                            "each program's data limit in MiB")
        ->type_name("MIB")
        ->group(runs_group);
    add_number<std::size_t>(app, "--file-size", options.file_size_mib, 1, most_file_size_mib, "MiB",
                            "the largest file a program may write, in MiB (default " + std::to_string(default_file_size_mib) + ")")
        ->type_name("MIB")
        ->group(runs_group);
    const CLI::Validator variable(
        [](std::string& text) { return is_environment_option(text) ? std::string() : "takes NAME or NAME=VALUE"; },
        "");
    app.add_option("--env", options.env, "pass the variable NAME on to each program, or set it (again and again)")
        ->allow_extra_args(false)
        ->check(variable)
        ->type_name("NAME[=VALUE]")
        ->group(runs_group);
    app.add_flag("--sandbox", options.sandbox,
                 "run each program in a sandbox of bubblewrap's: another user, no network, its own files")
        ->group(runs_group);
    add_number<std::size_t>(app, "--processes", options.processes, 1, most_processes, "processes",
                            "with --sandbox, each program's processes and threads (default " + std::to_string(default_processes) + ")")
        ->each([&options](const std::string&) { options.processes_given = true; })
        ->type_name("N")
        ->group(runs_group);
}

// --check's grading: the checks a program must show, its points, and when
// a student sees them.
void declare_grade_options(CLI::App& app, Options& options) {
    add_number<std::size_t>(app, "--checks", options.checks, 1, most_checks, "check boxes",
                            "the check boxes each program must show; fewer is \"incomplete\"")
        ->type_name("N")
        ->group(check_group);
    add_read_option(
        app, "--points",
        [&options](const std::string& text) {
            options.points_given = true;
            return parse_points(text, options.points_hundredths);
        },
        "--points takes a number above 0, at most " + points_text(most_points_hundredths) + ", with at most 2 decimals",
        "each program's max_score in Gradescope's results (default " + points_text(default_points_hundredths) + ")")
        ->type_name("P")
        ->group(check_group);
    app.add_flag("--partial-credit", options.partial_credit,
                 "score P x green checks / max(N, checks shown), with --checks N")
        ->group(check_group);
    add_choice(app, "--visibility", options.visibility, {std::begin(visibilities), std::end(visibilities)},
               "when a student sees the tests in Gradescope")
        ->type_name("V")
        ->group(check_group);
    add_number<unsigned>(app, "--cpu-time", options.cpu_seconds, 1, most_cpu_seconds, "seconds",
                         "each program's CPU time in whole seconds (RLIMIT_CPU)")
        ->type_name("S")
        ->group(check_group);
}

// The options of --check alone.
void declare_check_options(CLI::App& app, Options& options) {
    add_number(app, "-j", options.jobs, 1, most_jobs, "parallel runs",
               "programs run side by side (default: one per core)")
        ->type_name("N")
        ->group(check_group);
    add_read_option(
        app, "--shard", [&options](const std::string& text) { return parse_shard(text, options.shard, options.shards); },
        "--shard takes K/N, 1 <= K <= N <= " + std::to_string(most_shards),
        "run the K-th of N shares of the programs sorted by name")
        ->type_name("K/N")
        ->group(check_group);
}

// Every option, in the group of the modes it goes with. --run's flag makes
// the first word that is not an option start the program's command.
void declare(CLI::App& app, Options& options) {
    app.formatter(std::make_shared<Help>());
    app.option_defaults()->group(mode_group);
    app.set_help_flag("-h,--help", "show this help and exit");
    app.allow_extras();  // words, "--" and unknown options: sorted by take_words()
    app.add_flag_callback("--run", [&app, &options] {
           options.run = true;
           app.prefix_command();
       }, "run PROGRAM as a host would and show its boxes")
        ->trigger_on_parse();
    app.add_flag("--check", options.check, "run each PROGRAM and report its checks");
    app.add_flag("--version", options.version, "print the version and exit");
    declare_stream_options(app, options);
    declare_run_options(app, options);
    declare_check_options(app, options);
    declare_grade_options(app, options);
}

bool looks_like_option(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

// What CLI11 left over, in order: unknown options, "--" (the first one
// ends the options), and the words. With --run, the first word starts the
// program's command and the rest are its arguments, whatever they look like.
Error take_words(const std::vector<std::string>& rest, Options& options) {
    std::vector<std::string> words;
    bool options_ended = false;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const std::string& word = rest[i];
        if (!options_ended && word == "--") {
            options_ended = true;
        } else if (!options_ended && looks_like_option(word)) {
            return usage_error("unknown option " + word);
        } else if (options.run) {
            options.command.assign(rest.begin() + static_cast<std::ptrdiff_t>(i), rest.end());
            return {};
        } else {
            words.push_back(word);
        }
    }
    if (options.check) {
        options.command = words;
    } else if (words.size() > 1) {
        return usage_error("more than one FILE");
    } else if (!words.empty()) {
        options.file = words.front();
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
    if (!options.run && !options.source_dir.empty()) {
        return usage_error("--source-dir goes with --run only: with --check a program could name any file");
    }
    if (!options.run && !options.check &&
        (!options.input_file.empty() || options.message_id_given || options.memory_mib != 0 ||
         options.file_size_mib != default_file_size_mib || !options.env.empty() || options.sandbox)) {
        return usage_error("--input, --message-id, --memory, --file-size, --env, --sandbox and a PROGRAM "
                           "go with --run or --check");
    }
    if (options.processes_given && !options.sandbox) {
        return usage_error("--processes goes with --sandbox: only a sandbox counts a program's processes "
                           "apart from the viewer's own");
    }
    if (!options.input_file.empty() && options.message_id_given) {
        return usage_error("give --message-id or --input, not both");
    }
    if ((options.jobs != 0 || options.shards != 0) && !options.check) {
        return usage_error("-j and --shard go with --check");
    }
    if (!options.check && (options.checks != 0 || options.points_given || options.partial_credit ||
                           !options.visibility.empty() || options.cpu_seconds != 0)) {
        return usage_error("--checks, --points, --partial-credit, --visibility and --cpu-time go with --check");
    }
    if (options.partial_credit && options.checks == 0) {
        return usage_error("--partial-credit needs --checks: a share of how many checks?");
    }
    return {};
}

// NO_COLOR, and the exit statuses from their table, wrapped as the rest.
std::string footer() {
    std::string text = "NO_COLOR turns colours off. Exit status:";
    std::size_t line_start = 0;
    for (const ExitStatus& status : exit_statuses) {
        const std::string item = " " + std::to_string(status.code) + " " + status.meaning +
                                 (&status == std::end(exit_statuses) - 1 ? "." : ",");
        if (text.size() - line_start + item.size() > help_width) {
            text += "\n";
            line_start = text.size();
            text += item.substr(1);
        } else {
            text += item;
        }
    }
    return text + "\n";
}

}  // namespace

std::string usage_text() { return std::string(synopsis) + "quorvel-view --help describes every option.\n"; }

std::string help_text() {
    Options options;
    CLI::App app(description, "quorvel-view");
    declare(app, options);
    app.footer(footer());
    return app.help();
}

Error parse_options(int argc, char** argv, Options& options) {
    CLI::App app(description, "quorvel-view");
    declare(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return {};
    } catch (const CLI::ParseError& error) {
        return usage_error(error.what());
    }
    if (options.version) {
        return {};
    }
    if (Error error = take_words(app.remaining(), options)) {
        return error;
    }
    return check_options(options);
}
