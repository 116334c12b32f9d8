/* SPDX-License-Identifier: BSD-2-Clause */
#ifndef STALEWATCH_WALK_H
#define STALEWATCH_WALK_H

/*
 * Lists the processes, checks those that the operands argv[first] to
 * argv[argc - 1] select (all of them when there are none) and returns the
 * exit status: 0 when some process was selected, 1 otherwise.
 */
int walk_processes(int argc, char **argv, int first);

#endif
