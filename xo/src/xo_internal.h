// Internal declarations shared by the pieces of the output layer.
#ifndef XO_INTERNAL_H
#define XO_INTERNAL_H

#include <libxo/xo.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xo {

// ---------------------------------------------------------------- UTF-8

// Decodes one code point at s[i]; returns its length in bytes, or 0 when
// the bytes there are not a valid (shortest form, non-surrogate) sequence.
size_t utf8_decode(std::string_view s, size_t i, uint32_t &cp);

// Display columns of one code point (0 for controls and combining marks,
// 2 for East Asian wide characters, 1 otherwise).
int codepoint_columns(uint32_t cp);

// Display columns of a string; bytes that are not valid UTF-8 count one
// column each.
size_t string_columns(std::string_view s);

// Escapers: append s to out with the given escaping.  Invalid UTF-8
// becomes U+FFFD in all of them.
void escape_xml(std::string &out, std::string_view s, bool attribute);
void escape_html(std::string &out, std::string_view s, bool attribute);
void escape_json(std::string &out, std::string_view s);

// ------------------------------------------------------- printf engine

// One argument taken from the caller's va_list, remembered so that the
// display and the encoding format of a field can both use it.
struct Arg {
    enum Kind : uint8_t { INT, LONG, LLONG, INTMAX, SIZE, PTRDIFF, PTR };
    Kind kind;
    uint64_t bits; // integers, as the unsigned image of the fetched type
    const void *ptr;
};

class ArgPool {
public:
    // Arguments come from *ap; storage is reused from call to call.
    ArgPool(va_list *ap, std::vector<Arg> &storage) : ap_(ap), args_(storage) { args_.clear(); }
    // A pool holding just one string argument and no va_list.
    explicit ArgPool(const char *s) : ap_(nullptr), own_{Arg{Arg::PTR, 0, s}}, args_(own_) {}
    ArgPool(const ArgPool &) = delete;
    ArgPool &operator=(const ArgPool &) = delete;
    // Returns the argument at position idx of the current field, fetching
    // it from the va_list when it has not been fetched yet.  Returns null
    // when the requested kind cannot be the one already fetched there, or
    // when there is no such argument.
    const Arg *get(size_t idx, Arg::Kind kind);
    // Starts a new field: already fetched arguments are forgotten.
    void next_field()
    {
        args_.clear();
        base_ = 0;
    }
    // Positions used by the formats start after the arguments fetched so
    // far (the 'a' modifier takes one before the formats).
    void rebase() { base_ = args_.size(); }

private:
    va_list *ap_;
    std::vector<Arg> own_;
    std::vector<Arg> &args_;
    size_t base_ = 0;
};

struct FormatResult {
    bool ok = true;
    bool numeric = false; // at least one integer conversion, nothing else
    std::string error;    // what went wrong when !ok
};

// Formats printf-style fmt (the subset d i u x X o c s p %%, flags, width,
// precision, '*', hh h l ll j z t q) into out, taking arguments from pool
// starting at position 0.  String widths and precisions count display
// columns.
FormatResult format_printf(std::string &out, std::string_view fmt, ArgPool &pool);

// ------------------------------------------------------------ handle

struct Level {
    bool first = true;         // nothing written inside yet
    bool after_version = false; // JSON: the last member was __version
};

struct Frame {
    enum Kind : uint8_t { CONTAINER, LIST, INSTANCE };
    Kind kind;
    bool element;     // XML: written as an element
    bool json_object; // JSON: written as an object (not an array)
    std::string name;
    Level level;
};

struct Handle {
    xo_style_t style = XO_STYLE_TEXT;
    xo_xof_flags_t flags = 0;
    unsigned indent_width = 2;

    std::string out;          // output not yet written to stdout
    std::vector<Frame> stack; // open containers, lists and instances
    Level root;               // JSON: the outermost object
    bool top_open = false;    // JSON: the outermost "{" is written
    bool line_open = false;   // HTML: a line div is open
    bool finished = false;    // xo_finish ran, nothing written since
    bool version_pending = false; // XML: attribute for the next top element
    std::string version;

    std::string program;
    bool program_set = false;

    std::string scratch_display; // reused buffers
    std::string scratch_encoding;
    std::vector<Arg> scratch_args;
};

Handle &default_handle();

bool has(const Handle &h, xo_xof_flags_t f);

// Output helpers.
void indent(Handle &h, size_t levels);
void start_output(Handle &h);
ssize_t write_pending(Handle &h);
void after_call(Handle &h, bool saw_newline);

// JSON member/element prologue at the current level.
void json_begin_item(Handle &h, bool opener);
void json_begin_document(Handle &h);
size_t json_depth(const Handle &h);
size_t xml_depth(const Handle &h);
void html_open_line(Handle &h);
void html_close_line(Handle &h);

// Document structure.
ssize_t open_frame(Handle &h, Frame::Kind kind, const char *name);
ssize_t close_frame(Handle &h, Frame::Kind kind, const char *name);
ssize_t finish(Handle &h);

// Field descriptors.
ssize_t emit(Handle &h, const char *fmt, va_list *ap);
// Writes one leaf value in the encoding styles.
void write_leaf(Handle &h, std::string_view name, std::string_view value, bool quoted, bool key);

// --libxo options.
int parse_args(Handle &h, int argc, char **argv);

// Diagnostics.
const std::string &program_name(Handle &h);
void libxo_warning(Handle &h, const std::string &msg);
void write_stderr(Handle &h, const std::string &text);
std::string vformat(const char *fmt, va_list ap);
std::string field_name(const Handle &h, std::string_view name);

} // namespace xo

#endif
