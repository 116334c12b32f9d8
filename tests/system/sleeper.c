/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * Test subject: loads the shared libraries named with -l, maps the files
 * named with -m (readable, not executable), maps executable memory that is
 * not a file (-e: a memfd, -z: shared anonymous memory), says "ready" on
 * standard output and then waits until it is killed.  -n N maps its own
 * executable N more times, for a long memory map; -x N does the same with
 * the mappings executable.  With -t the main thread exits (pthread_exit)
 * and another thread says "ready" once it is gone and goes on waiting.
 * -E PATH starts the program PATH (with the argument "after") when the
 * process gets SIGUSR1.
 */
#define _GNU_SOURCE
#include <sys/mman.h>
#include <sys/stat.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int
map_exec(int fd)
{
	void *p;

	p = mmap(NULL, 4096, PROT_READ | PROT_EXEC, MAP_SHARED |
	    (fd == -1 ? MAP_ANONYMOUS : 0), fd, 0);
	if (p == MAP_FAILED) {
		perror("mmap");
		return (-1);
	}
	return (0);
}

static const char *other_program;

static void
start_other_program(int sig)
{
	char *const argv[] = { (char *)other_program, (char *)"after", NULL };

	(void)sig;
	execv(other_program, argv);
	_exit(3);
}

/* Whether the main thread has exited: the process's state reads Z. */
static int
leader_exited(void)
{
	char buf[512], *paren;
	ssize_t n;
	int fd;

	fd = open("/proc/self/stat", O_RDONLY);
	if (fd == -1)
		return (0);
	n = read(fd, buf, sizeof(buf) - 1);
	close(fd);
	if (n <= 0)
		return (0);
	buf[n] = '\0';
	paren = strrchr(buf, ')');
	return (paren != NULL && paren[1] == ' ' && paren[2] == 'Z');
}

static void *
survivor(void *arg)
{
	int i;

	(void)arg;
	for (i = 0; i < 5000 && !leader_exited(); i++)
		usleep(1000);
	printf("ready\n");
	fflush(stdout);
	for (;;)
		pause();
	return (NULL);
}

int
main(int argc, char **argv)
{
	struct stat st;
	pthread_t thread;
	void *p;
	int ch, fd, tflag = 0;

	while ((ch = getopt(argc, argv, "+eE:l:m:n:tx:z")) != -1) {
		switch (ch) {
		case 'E':
			other_program = optarg;
			signal(SIGUSR1, start_other_program);
			break;
		case 'l':
			if (dlopen(optarg, RTLD_NOW) == NULL) {
				fprintf(stderr, "sleeper: %s\n", dlerror());
				return (2);
			}
			break;
		case 'm':
			fd = open(optarg, O_RDONLY);
			if (fd == -1 || fstat(fd, &st) == -1) {
				perror(optarg);
				return (2);
			}
			p = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_PRIVATE,
			    fd, 0);
			if (p == MAP_FAILED) {
				perror("mmap");
				return (2);
			}
			close(fd);
			break;
		case 'e':
			fd = memfd_create("jit", 0);
			if (fd == -1 || ftruncate(fd, 4096) == -1 ||
			    map_exec(fd) == -1)
				return (2);
			break;
		case 'n':
		case 'x':
			fd = open("/proc/self/exe", O_RDONLY);
			if (fd == -1) {
				perror("/proc/self/exe");
				return (2);
			}
			for (long i = strtol(optarg, NULL, 10); i > 0; i--)
				if (mmap(NULL, 4096, PROT_READ | (ch == 'x' ?
				    PROT_EXEC : 0), MAP_PRIVATE, fd, 0) ==
				    MAP_FAILED) {
					perror("mmap");
					return (2);
				}
			close(fd);
			break;
		case 't':
			tflag = 1;
			break;
		case 'z':
			if (map_exec(-1) == -1)
				return (2);
			break;
		default:
			return (2);
		}
	}
	if (tflag) {
		if (pthread_create(&thread, NULL, survivor, NULL) != 0)
			return (2);
		pthread_exit(NULL);
	}
	printf("ready\n");
	fflush(stdout);
	for (;;)
		pause();
}
