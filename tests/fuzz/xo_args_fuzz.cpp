/* SPDX-License-Identifier: BSD-2-Clause */
// Fuzzes libxo's option parsing: the input, split at NUL bytes, is the
// argument vector after the program name.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

extern "C" {
#include <libxo/xo.h>
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> words(1, "stalewatch");
	std::string cur;
	for (size_t i = 0; i < size; i++) {
		if (data[i] == '\0') {
			words.push_back(cur);
			cur.clear();
		} else
			cur.push_back((char)data[i]);
	}
	words.push_back(cur);

	const std::vector<std::string> given(words);
	std::vector<char *> argv;
	for (std::string &w : words)
		argv.push_back(&w[0]);
	argv.push_back(nullptr);
	int argc = (int)argv.size() - 1;
	int n = xo_parse_args(argc, argv.data());
	if (n > argc || (n >= 0 && argv[n] != nullptr))
		__builtin_trap();
	// What is left is what was given, in order, minus libxo's options.
	size_t j = 0;
	for (int i = 0; i < n; i++) {
		while (j < given.size() && given[j] != argv[i])
			j++;
		if (j == given.size())
			__builtin_trap();
		j++;
	}
	return 0;
}
