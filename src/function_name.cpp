// Function names for the fault box's where; see function_name.h. Runs in
// the where lookup's child only.
#include "function_name.h"

namespace quorvel_internal {

namespace {

constexpr std::string_view anonymous_namespace = "(anonymous namespace)::";
constexpr std::string_view lambda_start = "{lambda(";
constexpr std::string_view lambda_name = "{lambda}";
constexpr std::string_view call_operator = "::operator()";
constexpr std::string_view abi_tag = "[abi:";
constexpr std::string_view clone_suffix = " [clone ";  // a part GCC split off or specialised
constexpr std::string_view qualifiers[] = {" const", " volatile", " &&", " &", " noexcept"};

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The index just past the bracket that closes the one at open.
std::size_t past_closing(std::string_view text, std::size_t open) {
    const char opening = text[open];
    const char closing = opening == '(' ? ')' : opening == '{' ? '}' : opening == '[' ? ']' : '>';
    int depth = 0;
    for (std::size_t at = open; at < text.size(); ++at) {
        depth += text[at] == opening ? 1 : text[at] == closing ? -1 : 0;
        if (depth == 0) {
            return at + 1;
        }
    }
    return text.size();
}

// text without the qualifiers that may follow a parameter list.
std::string_view without_qualifiers(std::string_view text) {
    for (bool cut = true; cut;) {
        cut = false;
        for (const std::string_view qualifier : qualifiers) {
            if (ends_with(text, qualifier)) {
                text.remove_suffix(qualifier.size());
                cut = true;
            }
        }
    }
    return text;
}

// The name before the outermost parameter list, when text ends with one.
std::string_view without_parameters(std::string_view text) {
    text = without_qualifiers(text);
    if (!ends_with(text, ")")) {
        return text;
    }
    int depth = 0;
    for (std::size_t at = text.size(); at-- > 0;) {
        depth += text[at] == ')' ? 1 : text[at] == '(' ? -1 : 0;
        if (depth == 0) {
            return text.substr(0, at);
        }
    }
    return text;
}

// The name after a return type: after the last blank outside brackets that
// does not follow a parameter list (as the one before "const" does).
std::string_view without_return_type(std::string_view text) {
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        depth += c == '<' || c == '(' || c == '[' || c == '{' ? 1 : c == '>' || c == ')' || c == ']' || c == '}' ? -1 : 0;
        if (c == ' ' && depth == 0 && at > 0 && text[at - 1] != ')' &&
            text.substr(0, at).find("operator") == std::string_view::npos) {
            start = at + 1;
        }
    }
    return text.substr(start);
}

// Past the qualifiers that follow an inner parameter list at at.
std::size_t past_qualifiers(std::string_view text, std::size_t at) {
    for (bool skipped = true; skipped;) {
        skipped = false;
        for (const std::string_view qualifier : qualifiers) {
            if (text.substr(at, qualifier.size()) == qualifier) {
                at += qualifier.size();
                skipped = true;
            }
        }
    }
    return at;
}

}  // namespace

std::string function_name(std::string_view demangled) {
    demangled = demangled.substr(0, demangled.find(clone_suffix));
    const std::string_view name = without_return_type(without_parameters(demangled));
    std::string out;
    int angles = 0;
    for (std::size_t at = 0; at < name.size();) {
        const std::string_view rest = name.substr(at);
        if (rest.substr(0, anonymous_namespace.size()) == anonymous_namespace) {
            at += anonymous_namespace.size();
        } else if (rest.substr(0, lambda_start.size()) == lambda_start) {
            out += lambda_name;
            at = past_closing(name, at);
        } else if (ends_with(out, lambda_name) && rest.substr(0, call_operator.size()) == call_operator) {
            at += call_operator.size();
        } else if (rest.substr(0, abi_tag.size()) == abi_tag) {
            at = past_closing(name, at);
        } else if (rest[0] == '(' && angles == 0 && !ends_with(out, "operator")) {
            at = past_qualifiers(name, past_closing(name, at));
        } else {
            angles += rest[0] == '<' ? 1 : rest[0] == '>' ? -1 : 0;
            out += rest[0];
            ++at;
        }
    }
    return out;
}

}  // namespace quorvel_internal
