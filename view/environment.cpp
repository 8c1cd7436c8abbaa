#include "environment.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr char locale_prefix[] = "LC_";
constexpr char sanitizer_suffix[] = "SAN_OPTIONS";

std::string name_of(const std::string& entry) { return entry.substr(0, entry.find('=')); }

bool is_kept(const std::string& name) {
    const std::string suffix = sanitizer_suffix;
    return std::find(kept_variables.begin(), kept_variables.end(), name) != kept_variables.end() ||
           name.rfind(locale_prefix, 0) == 0 ||
           (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
}

// Puts entry in, in place of one of the same name.
void set(std::vector<std::string>& environment, const std::string& entry) {
    const std::string name = name_of(entry);
    const auto same = std::find_if(environment.begin(), environment.end(),
                                   [&](const std::string& other) { return name_of(other) == name; });
    if (same != environment.end()) {
        *same = entry;
    } else {
        environment.push_back(entry);
    }
}

}  // namespace

std::vector<std::string> program_environment(char* const* viewer, const std::vector<std::string>& extra) {
    std::vector<std::string> environment;
    for (char* const* entry = viewer; entry != nullptr && *entry != nullptr; ++entry) {
        if (is_kept(name_of(*entry))) {
            set(environment, *entry);
        }
    }
    for (const std::string& option : extra) {
        if (option.find('=') != std::string::npos) {
            set(environment, option);
            continue;
        }
        for (char* const* entry = viewer; entry != nullptr && *entry != nullptr; ++entry) {
            if (name_of(*entry) == option) {
                set(environment, *entry);
            }
        }
    }
    return environment;
}

bool is_environment_option(const std::string& text) {
    const std::string name = name_of(text);
    return !name.empty() && std::isdigit(static_cast<unsigned char>(name[0])) == 0 &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; });
}
