/* SPDX-License-Identifier: BSD-2-Clause */
/*
 * The pidfiles a script names, read from its text as the shell would
 * read the words that name them: quotes, backslashes and the expansions
 * of the variables the script set itself.  Nothing is run: a word whose
 * value would need anything else is no path.
 */
#include <string.h>

#include "rcscript.h"

/* The variables of one script that are remembered, and their sizes. */
#define VARS_MAX	64
#define VAR_NAME_SIZE	32

struct var {
	char name[VAR_NAME_SIZE];
	char value[SCRIPT_PATH_MAX];
};

/* A script being read. */
struct scan {
	const char *p, *end;
	struct var vars[VARS_MAX];
	unsigned int nvars;
};

/* A word as the shell would expand it. */
struct word {
	char text[SCRIPT_PATH_MAX];
	size_t len;
	bool known;		/* every part of it is known, and it fits */
};

static void parse_word(struct scan *sc, struct word *w, char stop);

static void
word_init(struct word *w)
{
	w->text[0] = '\0';
	w->len = 0;
	w->known = true;
}

static void
word_add(struct word *w, const char *s, size_t n)
{
	if (w->len + n >= sizeof(w->text)) {
		w->known = false;
		return;
	}
	memcpy(w->text + w->len, s, n);
	w->len += n;
	w->text[w->len] = '\0';
}

static bool
name_start(char c)
{
	return ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_');
}

static bool
name_char(char c)
{
	return (name_start(c) || (c >= '0' && c <= '9'));
}

/* The characters that end an unquoted word. */
static bool
ends_word(char c)
{
	return (c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' ||
	    c == '|' || c == '(' || c == ')' || c == '<' || c == '>');
}

static struct var *
find_var(struct scan *sc, const char *name, size_t n)
{
	unsigned int i;

	for (i = 0; i < sc->nvars; i++)
		if (strlen(sc->vars[i].name) == n &&
		    memcmp(sc->vars[i].name, name, n) == 0)
			return (&sc->vars[i]);
	return (NULL);
}

/* Sets a variable of the script; one that does not fit is forgotten. */
static void
set_var(struct scan *sc, const char *name, size_t n, const struct word *w)
{
	struct var *v;

	v = find_var(sc, name, n);
	if (v == NULL && n < VAR_NAME_SIZE && sc->nvars < VARS_MAX) {
		v = &sc->vars[sc->nvars++];
		memcpy(v->name, name, n);
		v->name[n] = '\0';
	}
	if (v == NULL)
		return;
	if (!w->known) {
		/* Its value is not known any more: it names nothing. */
		*v = sc->vars[--sc->nvars];
		return;
	}
	memcpy(v->value, w->text, w->len + 1);
}

/* Moves past the end of what opened with open, nested ones included. */
static void
skip_to_close(struct scan *sc, char open, char close)
{
	int depth = 1;

	for (; sc->p < sc->end && depth > 0; sc->p++) {
		if (*sc->p == open && open != close)
			depth++;
		else if (*sc->p == close)
			depth--;
	}
}

/* ${NAME}, ${NAME-word}, ${NAME:-word}, ${NAME=word}, ${NAME:=word}. */
static void
expand_braces(struct scan *sc, struct word *w)
{
	const char *name = sc->p;
	struct word def;
	struct var *v;
	bool colon;
	char op;
	size_t n;

	while (sc->p < sc->end && name_char(*sc->p))
		sc->p++;
	n = (size_t)(sc->p - name);
	v = n > 0 ? find_var(sc, name, n) : NULL;
	if (n > 0 && sc->p < sc->end && *sc->p == '}') {
		sc->p++;
		if (v != NULL)
			word_add(w, v->value, strlen(v->value));
		else
			w->known = false;
		return;
	}
	colon = sc->p < sc->end && *sc->p == ':';
	if (colon)
		sc->p++;
	op = sc->p < sc->end ? *sc->p : '\0';
	if (n == 0 || (op != '-' && op != '=')) {
		/* Another operator, or none that makes sense here. */
		w->known = false;
		skip_to_close(sc, '{', '}');
		return;
	}
	sc->p++;
	word_init(&def);
	parse_word(sc, &def, '}');
	if (sc->p < sc->end && *sc->p == '}')
		sc->p++;
	else
		def.known = false;
	if (v != NULL && (!colon || v->value[0] != '\0')) {
		word_add(w, v->value, strlen(v->value));
		return;
	}
	if (op == '=')
		set_var(sc, name, n, &def);
	if (!def.known)
		w->known = false;
	word_add(w, def.text, def.len);
}

/* An expansion; sc->p is past its '$'. */
static void
expand(struct scan *sc, struct word *w)
{
	const char *name;
	struct var *v;

	if (sc->p >= sc->end) {
		word_add(w, "$", 1);
		return;
	}
	if (*sc->p == '{') {
		sc->p++;
		expand_braces(sc, w);
	} else if (name_start(*sc->p)) {
		name = sc->p;
		while (sc->p < sc->end && name_char(*sc->p))
			sc->p++;
		v = find_var(sc, name, (size_t)(sc->p - name));
		if (v != NULL)
			word_add(w, v->value, strlen(v->value));
		else
			w->known = false;
	} else if (*sc->p == '(') {
		/* A command's output, or arithmetic. */
		sc->p++;
		w->known = false;
		skip_to_close(sc, '(', ')');
	} else if (strchr("0123456789@*#?$!-", *sc->p) != NULL) {
		/* The shell's own parameters. */
		sc->p++;
		w->known = false;
	} else
		word_add(w, "$", 1);
}

/* The rest of a double-quoted string; sc->p is past its '"'. */
static void
parse_quoted(struct scan *sc, struct word *w)
{
	char c;

	while (sc->p < sc->end && *sc->p != '"') {
		c = *sc->p++;
		if (c == '\\' && sc->p < sc->end &&
		    strchr("$`\"\\\n", *sc->p) != NULL) {
			if (*sc->p != '\n')
				word_add(w, sc->p, 1);
			sc->p++;
		} else if (c == '$')
			expand(sc, w);
		else if (c == '`') {
			w->known = false;
			skip_to_close(sc, '`', '`');
		} else
			word_add(w, &c, 1);
	}
	if (sc->p < sc->end)
		sc->p++;
	else
		w->known = false;
}

/*
 * One word, from sc->p up to what ends it: an unquoted blank or operator,
 * or with stop set, that character alone.
 */
static void
parse_word(struct scan *sc, struct word *w, char stop)
{
	const char *q;
	char c;

	while (sc->p < sc->end) {
		c = *sc->p;
		if (stop != '\0' ? c == stop : ends_word(c))
			break;
		sc->p++;
		switch (c) {
		case '\'':
			q = (const char *)memchr(sc->p, '\'',
			    (size_t)(sc->end - sc->p));
			if (q == NULL) {
				w->known = false;
				sc->p = sc->end;
				break;
			}
			word_add(w, sc->p, (size_t)(q - sc->p));
			sc->p = q + 1;
			break;
		case '"':
			parse_quoted(sc, w);
			break;
		case '\\':
			if (sc->p < sc->end) {
				if (*sc->p != '\n')
					word_add(w, sc->p, 1);
				sc->p++;
			}
			break;
		case '$':
			expand(sc, w);
			break;
		case '`':
			w->known = false;
			skip_to_close(sc, '`', '`');
			break;
		default:
			word_add(w, &c, 1);
		}
	}
}

/* Hands the word to fn when it is a known, absolute path. */
static void
found(const struct word *w, script_path_fn fn, void *ctx)
{
	if (w->known && w->text[0] == '/')
		fn(ctx, w->text);
}

/* Whether the variable of this name gives a pidfile. */
static bool
pidfile_var(const char *name, size_t n)
{
	return (n == strlen("pidfile") && (memcmp(name, "PIDFILE", n) == 0 ||
	    memcmp(name, "pidfile", n) == 0));
}

/* The word at sc->p, which starts a word: what it says, if anything. */
static void
read_word(struct scan *sc, script_path_fn fn, void *ctx)
{
	static const char option[] = "--pidfile";
	const size_t olen = sizeof(option) - 1;
	const char *name = sc->p;
	struct word w;
	size_t n;

	word_init(&w);
	while (sc->p < sc->end && name_char(*sc->p))
		sc->p++;
	n = (size_t)(sc->p - name);
	if (n > 0 && name_start(*name) && sc->p < sc->end && *sc->p == '=') {
		/* An assignment. */
		sc->p++;
		parse_word(sc, &w, '\0');
		set_var(sc, name, n, &w);
		if (pidfile_var(name, n))
			found(&w, fn, ctx);
		return;
	}
	sc->p = name;
	if ((size_t)(sc->end - sc->p) >= olen &&
	    memcmp(sc->p, option, olen) == 0 && (sc->p + olen == sc->end ||
	    sc->p[olen] == '=' || sc->p[olen] == ' ' || sc->p[olen] == '\t')) {
		sc->p += olen;
		if (sc->p < sc->end && *sc->p == '=')
			sc->p++;
		else
			while (sc->p < sc->end && (*sc->p == ' ' ||
			    *sc->p == '\t'))
				sc->p++;
		parse_word(sc, &w, '\0');
		found(&w, fn, ctx);
		return;
	}
	/* Any other word: read past it, quotes and all. */
	parse_word(sc, &w, '\0');
}

void
script_pidfiles(const char *text, size_t len, script_path_fn fn, void *ctx)
{
	static struct scan sc;
	const char *nl;
	char c;

	sc.p = text;
	sc.end = text + len;
	sc.nvars = 0;
	while (sc.p < sc.end) {
		c = *sc.p;
		if (ends_word(c) || c == '{' || c == '}') {
			sc.p++;
			continue;
		}
		if (c == '#') {
			nl = (const char *)memchr(sc.p, '\n',
			    (size_t)(sc.end - sc.p));
			sc.p = nl != NULL ? nl : sc.end;
			continue;
		}
		read_word(&sc, fn, ctx);
		/* A word that ends in nothing it can end at: a lone quote. */
		if (sc.p < sc.end && !ends_word(*sc.p))
			sc.p++;
	}
}
