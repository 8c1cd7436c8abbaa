// Reads an exercise's output stream the way a host does: splits it at the
// first separator, parses the document with libyaml and pairs each view box
// with its text element, whose text it reads from the memory area.
#ifndef QUORVEL_VIEW_EXCHANGE_H
#define QUORVEL_VIEW_EXCHANGE_H

#include <quorvel/exchange_format.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

inline constexpr std::size_t exchange_memory_size = quorvel_memory_size;

inline constexpr std::size_t exchange_stream_limit = quorvel_stream_capacity;

// "more than 100004 bytes", then " " and where when given ("on standard
// output"): what a stream past exchange_stream_limit is called.
std::string stream_too_long(const std::string& where = "");

// Nesting deeper than this is malformed: no document the library writes
// comes near it, and the reader and the tree it builds stay bounded.
inline constexpr std::size_t yaml_depth_limit = 64;

struct YamlNode {
    enum class Kind { scalar, sequence, mapping };
    Kind kind = Kind::scalar;
    std::string scalar;  // an alias reads as written: "*name"
    std::vector<std::pair<std::string, YamlNode>> entries;  // mapping, in order
    std::vector<YamlNode> items;                             // sequence
    bool alias = false;      // this node is an alias, never expanded
    bool has_alias = false;  // this node or one below it is

    const YamlNode* find(const std::string& key) const;
    std::string text(const std::string& key) const;  // scalar under key or ""
};

// Parses the first YAML document of text; false with error set when libyaml
// rejects it or it nests deeper than yaml_depth_limit. An empty text gives an
// empty mapping. The parse is one pass over libyaml's events with an explicit
// stack: an alias stays one node however often its anchor is used.
bool parse_yaml(const std::string& text, YamlNode& root, std::string& error);

struct ViewBox {
    int number = 0;
    std::map<std::string, std::string> style;       // the View element's style
    std::map<std::string, std::string> text_style;  // the Text element's style
    std::vector<std::string> children;
    long pos = -1;
    long len = -1;
    std::string text;  // read from the memory area through pos and len
};

struct HostView {
    bool ok = false;
    std::string error;     // one line naming the problem (and the box)
    std::string document;  // the text before the separator
    std::string memory;    // the bytes after it
    YamlNode root;
    std::vector<ViewBox> boxes;                                  // in document order
    std::vector<std::size_t> other;  // the non-box top-level keys: indices into root.entries
};

// Splits, parses and pairs. ok is false, with error set, when the stream is
// longer than exchange_stream_limit, has no separator, the memory area is not
// 10,000 bytes, the document does not parse or is not a mapping, a top-level
// key repeats, a box lacks its text element, a box's elements use an alias, or
// a text lies outside the memory area. Aliases in the host's own keys are
// shown as written.
HostView read_as_host(const std::string& stream);

// How a box counts: green (quorvel_pass_colour) is a passing check, red
// (quorvel_fail_colour) a failing one, every other box a display. The one
// place that decides it, for every view and report.
enum class BoxKind { passed, failed, display };
BoxKind box_kind(const ViewBox& box);

// True for a box in the exact style of the one the library adds when the
// exercise faults: a failed check's colours, no border, and the fault box's
// height (quorvel_fault_height or quorvel_fault_where_height) at any width,
// or, as earlier versions wrote it, quorvel_notice_width wide and
// quorvel_check_height high. Only the last box of a run that ended badly is
// taken for it.
bool has_fault_style(const ViewBox& box);

// True for a fault box whose signature says its text ends with a where.
bool fault_has_where(const ViewBox& box);

// Where a fault happened, as its box names it.
struct FaultWhere {
    std::string file;      // "" without debug information
    long line = 0;         // 0 without debug information
    std::string function;  // "" when not named
};

// The where at the end of a fault box's text, read from the right: " at
// FILE:LINE", " at FILE:LINE in FUNCTION" or " in FUNCTION". False when the
// box's signature says it has none (whatever its text holds), or its text
// does not end with one.
bool fault_where(const ViewBox& box, FaultWhere& where);

// The where as a fault box writes it: " at FILE:LINE in FUNCTION", without
// the parts it lacks.
std::string where_words(const FaultWhere& where);


#endif
