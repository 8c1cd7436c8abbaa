// quorvel/exchange_format.h - the exchange stream and image, byte for byte.
//
// Everything a host and an exercise agree on is here, so that a host can build
// and read streams with the same constants the library uses. quorvel.h
// includes this header; a host may include it alone.
//
// The stream, as the host writes it and as quit() writes it back:
//
//     <YAML document> quorvel_separator <memory bytes>
//
// The image: memory area [0, document_offset), then the document area
// [document_offset, image_size) holding NUL-terminated YAML. Unset bytes hold
// fill_byte. Box texts are stored from text_origin on; a box is the pair of
// top-level keys quorvel_view_prefix N and quorvel_text_prefix N, and a check
// box's background is quorvel_pass_colour or quorvel_fail_colour. The sizes
// and colours of the library's boxes follow.
//
// The names image_size, document_offset, fill_byte, document_capacity and
// text_origin are the library's historic ones; every other name carries the
// quorvel_ prefix so that it cannot clash in a host's global scope.
#ifndef QUORVEL_EXCHANGE_FORMAT_H
#define QUORVEL_EXCHANGE_FORMAT_H

// Sizes of the exchange image, in bytes.
inline constexpr int image_size = 100000;      // the whole image; longest read
inline constexpr int document_offset = 10000;  // document start = memory size
inline constexpr char fill_byte = '~';         // every byte the input leaves unset
inline constexpr int document_capacity = image_size - document_offset - 1;  // 89,999 chars
inline constexpr int text_origin = 500;        // first memory offset for box texts

// The memory area's size: what follows the separator in an answer, exactly.
inline constexpr int quorvel_memory_size = document_offset;

// Between the document and the memory bytes: newline, three hyphens, newline.
inline constexpr char quorvel_separator[] = "\n---\n";
inline constexpr int quorvel_separator_length = sizeof quorvel_separator - 1;

// The longest answer quit() writes: a full document, the separator and the
// memory area, 100,004 bytes.
inline constexpr int quorvel_stream_capacity =
    document_capacity + quorvel_separator_length + quorvel_memory_size;

// Top-level keys of box N: quorvel_view_prefix N and quorvel_text_prefix N.
inline constexpr char quorvel_view_prefix[] = "View_correctness_";
inline constexpr char quorvel_text_prefix[] = "Text_correctness_";

// Box sizes, in pixels: a check box (and an array's spacer and header), an
// array cell, and the box that shows what the exercise printed, wide enough
// to read. Streams of earlier versions had the box that names a fault this
// wide too, and quorvel_check_height high.
inline constexpr int quorvel_check_width = 200;
inline constexpr int quorvel_check_height = 20;
inline constexpr int quorvel_cell_width = 75;
inline constexpr int quorvel_cell_height = 30;
inline constexpr int quorvel_notice_width = 500;

// The box that names a fault (a crash, an uncaught exception, a stop, an
// early exit): a failed check's colours, no border, as wide as its text
// (200 to 1,000 px), and a height that no other box of the library has, its
// signature. With quorvel_fault_where_height its text ends with where the
// fault happened: " at FILE:LINE in FUNCTION", " at FILE:LINE", or
// " in FUNCTION" (without debug information), read from the right; with
// quorvel_fault_height it has no where.
inline constexpr int quorvel_fault_height = 22;
inline constexpr int quorvel_fault_where_height = 24;

// Every box's margins, in pixels: a view's marginLeft and its text's, and
// the marginTop of a box without a border; an array cell's borderWidth.
inline constexpr int quorvel_margin_left = 10;
inline constexpr int quorvel_margin_top = 1;
inline constexpr int quorvel_border_width = 2;
// The widest box the library makes, in pixels: a box fitted to its text.
inline constexpr int quorvel_widest_box = 1000;
// The fontSize every text element carries, whatever size a caller asks for.
inline constexpr int quorvel_text_size = 18;

// Backgrounds of check boxes: values that agree, values that do not. A check's
// text is quorvel_check_text_colour.
inline constexpr char quorvel_pass_colour[] = "rgb(100, 255, 100)";
inline constexpr char quorvel_fail_colour[] = "red";
inline constexpr char quorvel_check_text_colour[] = "white";

// Boxes that show rather than check (array spacer, header and cells, printed
// output): background, text, and the border of an array cell.
inline constexpr char quorvel_display_colour[] = "white";
inline constexpr char quorvel_display_text_colour[] = "black";
inline constexpr char quorvel_cell_border_colour[] = "black";

#endif  // QUORVEL_EXCHANGE_FORMAT_H
