/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The devices of mounts over folders of other file systems, each with
 * the device of the folder it shows, kept in order of the upper device.
 * A mount may show a folder that another such mount shows in turn: the
 * devices are followed down to one that no mount shows.
 */
#include <sys/stat.h>
#include <stdlib.h>
#include <string.h>

#include "layers.h"
#include "lookup.h"
#include "mounts.h"
#include "xo_c.h"

struct layer {
	uint64_t upper;
	uint64_t lower;
};

static struct layer layers[LAYERS_MAX];
static unsigned int nlayers;
static unsigned int layers_left_out;
static bool layers_read;

/*
 * Notes a nullfs mount, whose files have the device upper and show the
 * folder lower, with the device of that folder.
 */
static void
add_layer(void *ctx, const char *path, const char *fstype, const char *lower,
    uint64_t upper)
{
	struct procstat *ps = (struct procstat *)ctx;
	struct stat st;

	(void)path;
	if (strcmp(fstype, "nullfs") != 0)
		return;
	/* Not where the lookup could wait without end. */
	if (lookup_may_hang(ps, lower, 0)) {
		lookup_note(lower);
		return;
	}
	/* A folder that has gone shows no file any more. */
	if (stat(lower, &st) == -1 || (uint64_t)st.st_dev == upper)
		return;
	if (nlayers == LAYERS_MAX) {
		layers_left_out++;
		return;
	}
	layers[nlayers].upper = upper;
	layers[nlayers].lower = (uint64_t)st.st_dev;
	nlayers++;
}

static int
compare_layers(const void *a, const void *b)
{
	uint64_t x = ((const struct layer *)a)->upper;
	uint64_t y = ((const struct layer *)b)->upper;

	return (x < y ? -1 : x > y);
}

/* The mount whose files have device dev, or NULL. */
static const struct layer *
find_layer(uint64_t dev)
{
	struct layer key;

	key.upper = dev;
	key.lower = 0;
	return ((const struct layer *)bsearch(&key, layers, nlayers,
	    sizeof(layers[0]), compare_layers));
}

uint64_t
lower_device(struct procstat *ps, uint64_t dev)
{
	const struct layer *l;
	unsigned int steps;

	if (!layers_read) {
		layers_read = true;
		(void)proc_mounts(ps, add_layer, ps);
		qsort(layers, nlayers, sizeof(layers[0]), compare_layers);
	}
	/* Each step goes down one mount: at most all of them. */
	for (steps = 0; steps < nlayers && (l = find_layer(dev)) != NULL;
	    steps++)
		dev = l->lower;
	return (dev);
}

void
layers_warn(void)
{
	if (layers_left_out > 0)
		xo_warnx("%u mount%s of a folder at another place not known "
		    "(at most %u are): a \".so\" row may be of a library "
		    "still there", layers_left_out,
		    layers_left_out == 1 ? "" : "s", LAYERS_MAX);
}
