/* SPDX-License-Identifier: BSD-2-Clause */
/* A shared library with some code in it, for the tests to load and replace. */
int
stalewatch_test_value(int x)
{
	return (x * 3 + 1);
}
