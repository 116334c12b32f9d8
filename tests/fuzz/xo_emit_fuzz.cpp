/* SPDX-License-Identifier: BSD-2-Clause */
// Fuzzes xo_emit's field descriptors: the input is a format, emitted with
// hostile string arguments in the style named by FUZZ_XO_STYLE
// (text, xml, json or html; json by default).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" {
#include <libxo/xo.h>
}

static const char *const hostile[8] = {
	"",
	"plain",
	"quote\" backslash\\ <tag> & amp",
	"\x01\x02\t\n\r\x1b[2J\x7f",
	"\xff\xfe\xc3\x28 bad utf-8 \xe2\x82",
	"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
	"12345",
	"a somewhat longer value that runs on past the usual column widths",
};

#define NVALUES 40	/* passed to every xo_emit below */

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	static char prog[] = "stalewatch";
	static char opt[32];
	const char *style = getenv("FUZZ_XO_STYLE");
	snprintf(opt, sizeof(opt), "--libxo=%s,warn", style ? style : "json");
	char *argv[] = {prog, opt, nullptr};

	// The report itself is of no interest; warnings are kept from the
	// log by -close_fd_mask=2 (see run).
	if (freopen("/dev/null", "w", stdout) == nullptr)
		return 1;
	xo_set_flags(NULL, XOF_WARN | XOF_COLUMNS);
	if (xo_parse_args(2, argv) < 0)
		abort();
	xo_open_container("fuzz");
	xo_open_list("row");
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string fmt(reinterpret_cast<const char *>(data), size);
	fmt = fmt.substr(0, strlen(fmt.c_str()));

	// A conversion takes an argument, and so may a field without one
	// (its format defaults to %s) and its 'a' modifier: never ask for
	// more than are passed.  Widths come from the format only ('*' would
	// take a pointer as a number) and are as short as real ones.  Wide
	// strings (%ls, %S) would read the narrow values past their end,
	// also when a backslash stands between the l and the s.
	size_t takers = 0, digits = 0;
	std::string plain;
	for (char c : fmt)
		if (c != '\\')
			plain += c;
	if (plain.find('S') != std::string::npos || plain.find("ls") != std::string::npos)
		return 0;
	// A long double (%Lg) takes two slots of the pointers passed.
	for (size_t p = plain.find('%'); p != std::string::npos; p = plain.find('%', p + 1)) {
		size_t q = plain.find_first_not_of("0123456789.-+ #'", p + 1);
		if (q != std::string::npos && plain[q] == 'L')
			return 0;
	}
	for (char c : fmt) {
		if (c == '*')
			return 0;
		if (c == '%')
			takers++;
		else if (c == '{')
			takers += 2;
		digits = c >= '0' && c <= '9' ? digits + 1 : 0;
		if (digits > 4)
			return 0;
	}
	if (takers > NVALUES)
		return 0;

	xo_open_instance("row");
#define V(i) hostile[(i) % 8]
#define V8(i) V(i), V(i + 1), V(i + 2), V(i + 3), V(i + 4), V(i + 5), \
    V(i + 6), V(i + 7)
	xo_emit(fmt.c_str(), V8(0), V8(1), V8(2), V8(3), V8(4));
	xo_close_instance("row");
	xo_flush();
	return 0;
}
