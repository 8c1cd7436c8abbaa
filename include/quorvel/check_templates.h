// quorvel/check_templates.h - the machinery behind the check_equal,
// near_equal and show_int_array templates of quorvel.h, which includes it.
//
// Everything here is in namespace quorvel_detail and may change. Each value
// is sorted into a family (integer, floating, text, list); the pair's family
// decides the verdict, and the label is built through a few functions of the
// library that take the widest form of a family (long long or unsigned long
// long for integers, each floating type as it is, a byte range for texts).
#ifndef QUORVEL_CHECK_TEMPLATES_H
#define QUORVEL_CHECK_TEMPLATES_H

#include <array>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quorvel_detail {

// ----- families -----

template <typename T>
inline constexpr bool is_unscoped_enum =
    std::is_enum_v<T> && std::is_convertible_v<T, long long>;

template <typename T>
inline constexpr bool is_integer = (std::is_integral_v<T> && sizeof(T) <= sizeof(long long)) ||
                                   is_unscoped_enum<T>;

template <typename T>
inline constexpr bool is_floating = std::is_floating_point_v<T>;

template <typename T>
inline constexpr bool is_number = std::is_arithmetic_v<T> || is_unscoped_enum<T>;

template <typename T>
inline constexpr bool is_text_pointer =
    std::is_same_v<T, const char*> || std::is_same_v<T, char*> ||
    std::is_same_v<T, std::nullptr_t> ||
    (std::is_array_v<T> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>);

template <typename T>
inline constexpr bool is_text = is_text_pointer<T> || std::is_same_v<T, std::string> ||
                                std::is_same_v<T, std::string_view>;

template <typename T>
struct list_traits {
    static constexpr bool is_list = false;
};
template <typename E, typename Allocator>
struct list_traits<std::vector<E, Allocator>> {
    static constexpr bool is_list = true;
    using element = E;
};
template <typename E, std::size_t N>
struct list_traits<std::array<E, N>> {
    static constexpr bool is_list = true;
    using element = E;
};
template <typename E>
struct list_traits<std::initializer_list<E>> {
    static constexpr bool is_list = true;
    using element = E;
};

template <typename T>
inline constexpr bool is_list = list_traits<T>::is_list;

template <typename T>
using element_t = typename list_traits<T>::element;

// True when check_equal accepts an a of type A and a b of type B.
template <typename A, typename B>
constexpr bool checkable() {
    if constexpr ((is_floating<A> || is_integer<A>) && (is_floating<B> || is_integer<B>)) {
        return true;
    } else if constexpr (is_text<A> && is_text<B>) {
        return true;
    } else if constexpr (is_list<A> && is_list<B>) {
        return checkable<element_t<A>, element_t<B>>();
    } else {
        return false;
    }
}

// The pairs the template leaves to the overloads for C strings, so that a
// literal 0 still reads as a null pointer: a char pointer or array with an
// integer.
template <typename A, typename B>
inline constexpr bool leaves_to_c_strings =
    (is_text_pointer<A> && std::is_integral_v<B>) || (std::is_integral_v<A> && is_text_pointer<B>);

// ----- the library's side -----

// The label being built for one check: kept in place while short, on the
// heap past that, and always followed by a NUL.
class Label {
public:
    Label() = default;
    Label(const Label&) = delete;
    Label& operator=(const Label&) = delete;

    Label& put(std::string_view text) {
        if (heap_.empty() && text.size() < local_size - size_) {
            if (!text.empty()) {
                std::memcpy(local_ + size_, text.data(), text.size());
            }
            size_ += text.size();
        } else {
            put_on_heap(text);
        }
        return *this;
    }

    // The text so far; the byte after it is a NUL.
    std::string_view text() {
        if (!heap_.empty()) {
            return heap_;
        }
        local_[size_] = '\0';
        return std::string_view(local_, size_);
    }

private:
    static constexpr std::size_t local_size = 64;
    void put_on_heap(std::string_view text);

    char local_[local_size];
    std::size_t size_ = 0;
    std::string heap_;
};

void put_verdict(Label& label, bool agree);  // " == " or " != "
void put_integer(Label& label, long long value);
void put_integer(Label& label, unsigned long long value);
void put_floating(Label& label, float value);        // the shortest text that reads back
void put_floating(Label& label, double value);
void put_floating(Label& label, long double value);
void put_text(Label& label, const char* text, std::size_t size);  // quoted; null when text is null
void put_list_rest(Label& label, std::size_t more);  // ", … (N more)"

// Where the values of a failed check of two lists or two texts first differ.
struct Difference {
    enum class Kind { none, at, lengths };
    Kind kind = Kind::none;
    std::size_t index = 0;        // at: the first position where they differ
    bool shown = true;            // at: the values as the label shows them hold it
    std::string left;             // at: the two elements (or characters) there,
    std::string right;            //     as a label shows them
    std::size_t left_size = 0;    // lengths: the one is the start of the other
    std::size_t right_size = 0;
};

// Where two texts first differ (none for a null one).
Difference text_difference(const char* a, std::size_t a_size, const char* b, std::size_t b_size);

// The box of a check_equal other than the five overloads: a failed check of
// lists or texts ends with where it differs, and the box is as wide as its
// label (see quorvel.h).
void append_fitted_check(bool agree, Label& label, const Difference& difference);

// near_equal's box: labels by printf "%f" ("%Lf"); fitted as above but for
// near_equal of two doubles, whose box is the check box it always was.
void append_near_box(double a, double b, bool agree, bool fitted);
void append_near_box(long double a, long double b, bool agree, bool fitted);
// show_int_array of count values, widened: its boxes stay together.
void show_int_cells(const long long* values, std::size_t count);
void show_int_cells(const unsigned long long* values, std::size_t count);

inline constexpr std::size_t shown_elements = 10;

// ----- integers -----

// An integer of any type as the widest type of its signedness.
template <typename T>
constexpr auto widest(T value) {
    if constexpr (std::is_enum_v<T>) {
        return widest(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_same_v<T, bool>) {
        return static_cast<long long>(value ? 1 : 0);
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<long long>(value);
    } else {
        return static_cast<unsigned long long>(value);
    }
}

// a equals b as numbers, whatever their signedness.
template <typename A, typename B>
constexpr bool same_integer(A a, B b) {
    const auto x = widest(a);
    const auto y = widest(b);
    using X = decltype(widest(a));
    if constexpr (std::is_same_v<X, decltype(widest(b))>) {
        return x == y;
    } else if constexpr (std::is_same_v<X, long long>) {
        return x >= 0 && static_cast<unsigned long long>(x) == y;
    } else {
        return y >= 0 && static_cast<unsigned long long>(y) == x;
    }
}

// ----- floating -----

// The wider floating type of the pair (an integer counts as none).
template <typename A, typename B>
using wider_floating_t = std::conditional_t<
    !is_floating<B> || (is_floating<A> && sizeof(A) >= sizeof(B)), A, B>;

// The floating f equals the integer i exactly: f is a whole number inside
// the range of i's widest type, and as that type it equals i. Computed in f's
// own type, so no wider floating type is needed.
template <typename F, typename I>
bool same_floating_integer(F f, I i) {
    using Widest = decltype(widest(i));
    constexpr F low = std::is_signed_v<Widest> ? -F(9223372036854775808.0) : F(0);
    constexpr F high = std::is_signed_v<Widest> ? F(9223372036854775808.0) : F(18446744073709551616.0);
    if (!(f >= low && f < high)) {  // NaN too
        return false;
    }
    const auto whole = static_cast<Widest>(f);  // in range: exact for a whole f
    return static_cast<F>(whole) == f && same_integer(whole, i);
}

// a equals b exactly: two floating values in the wider of their types, which
// holds every value of the narrower one.
template <typename A, typename B>
bool same_number(A a, B b) {
    if constexpr (is_integer<A> && is_integer<B>) {
        return same_integer(a, b);
    } else if constexpr (is_integer<B>) {
        return same_floating_integer(a, b);
    } else if constexpr (is_integer<A>) {
        return same_floating_integer(b, a);
    } else {
        using Wider = wider_floating_t<A, B>;
        return static_cast<Wider>(a) == static_cast<Wider>(b);
    }
}

// ----- text -----

struct Text {
    const char* data;  // null for a null pointer
    std::size_t size;
};

inline Text text_of(const std::string& text) { return {text.data(), text.size()}; }
inline Text text_of(std::string_view text) {
    return {text.data() != nullptr ? text.data() : "", text.size()};
}
inline Text text_of(const char* text) {
    return {text, text != nullptr ? std::strlen(text) : 0};
}
inline Text text_of(std::nullptr_t) { return {nullptr, 0}; }

inline bool same_text(Text a, Text b) {
    if (a.data == nullptr || b.data == nullptr) {
        return a.data == b.data;
    }
    return a.size == b.size && (a.size == 0 || std::memcmp(a.data, b.data, a.size) == 0);
}

// ----- agreement and labels, by family -----

template <typename A, typename B>
bool agree(const A& a, const B& b);

template <typename A, typename B>
bool same_list(const A& a, const B& b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto x = a.begin();
    for (auto y = b.begin(); y != b.end(); ++x, ++y) {
        if (!agree(*x, *y)) {
            return false;
        }
    }
    return true;
}

template <typename A, typename B>
bool agree(const A& a, const B& b) {
    if constexpr (is_list<A>) {
        return same_list(a, b);
    } else if constexpr (is_text<A>) {
        return same_text(text_of(a), text_of(b));
    } else {
        return same_number(a, b);
    }
}

// Puts value, of type Self, as the label shows it beside a value of type
// Other: that decides the floating type and whether a char is a byte.
template <typename Self, typename Other>
void put_value(Label& label, const Self& value);

template <typename Self, typename Other>
void put_list(Label& label, const Self& list) {
    label.put("{");
    std::size_t index = 0;
    for (const auto& element : list) {
        if (index == shown_elements) {
            put_list_rest(label, list.size() - index);
            break;
        }
        label.put(index == 0 ? "" : ", ");
        put_value<element_t<Self>, element_t<Other>>(label, element);
        ++index;
    }
    label.put("}");
}

template <typename Self, typename Other>
void put_value(Label& label, const Self& value) {
    if constexpr (is_list<Self>) {
        put_list<Self, Other>(label, value);
    } else if constexpr (is_text<Self>) {
        const Text text = text_of(value);
        put_text(label, text.data, text.size);
    } else if constexpr (std::is_same_v<Self, char> && std::is_same_v<Other, char>) {
        const char quoted[] = {'\'', value, '\''};  // an element of a list of chars
        label.put(std::string_view(quoted, sizeof quoted));
    } else if constexpr (is_floating<Self>) {
        put_floating(label, static_cast<wider_floating_t<Self, Other>>(value));
    } else {
        put_integer(label, widest(value));
    }
}

// The type near_equal computes in: the common type, double at the least.
template <typename A, typename B>
using near_t = std::common_type_t<A, B, double>;

// The first position where two lists that do not agree differ, with the
// elements there; or, when the shorter is the start of the longer, their
// lengths.
template <typename A, typename B>
Difference list_difference(const A& a, const B& b) {
    Difference difference;
    auto x = a.begin();
    auto y = b.begin();
    for (std::size_t i = 0; x != a.end() && y != b.end(); ++x, ++y, ++i) {
        if (!agree(*x, *y)) {
            Label left;
            Label right;
            put_value<element_t<A>, element_t<B>>(left, *x);
            put_value<element_t<B>, element_t<A>>(right, *y);
            difference.kind = Difference::Kind::at;
            difference.index = i;
            difference.shown = i < shown_elements;
            difference.left = left.text();
            difference.right = right.text();
            return difference;
        }
    }
    difference.kind = Difference::Kind::lengths;
    difference.left_size = a.size();
    difference.right_size = b.size();
    return difference;
}

// Where the values of a failed check differ: for lists and texts.
template <typename A, typename B>
Difference difference_of(const A& a, const B& b) {
    if constexpr (is_list<A>) {
        return list_difference(a, b);
    } else if constexpr (is_text<A>) {
        const Text left = text_of(a);
        const Text right = text_of(b);
        return text_difference(left.data, left.size, right.data, right.size);
    } else {
        return Difference{};
    }
}

// check_equal of two values of one family: the verdict, the label, the box.
template <typename A, typename B>
void check_values(const A& a, const B& b) {
    const bool agreed = agree(a, b);
    Label label;
    put_value<A, B>(label, a);
    put_verdict(label, agreed);
    put_value<B, A>(label, b);
    append_fitted_check(agreed, label, agreed ? Difference{} : difference_of(a, b));
}

// check_equal of any accepted pair; anything else stops the compilation
// here, with a message that names check_equal.
template <typename A, typename B>
void check(const A& a, const B& b) {
    static_assert(checkable<A, B>(),
                  "check_equal accepts two integers (any width, signed or unsigned, unscoped "
                  "enums, bool, char), floating-point values and integers, two texts "
                  "(std::string, std::string_view, const char*, char arrays), or two "
                  "std::vector, std::array or braced lists of such elements");
    if constexpr (checkable<A, B>()) {
        check_values(a, b);
    }
}

}  // namespace quorvel_detail

#endif  // QUORVEL_CHECK_TEMPLATES_H
