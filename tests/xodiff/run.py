#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Differential test of the bundled libxo layer against the real libxo.

Every case is a script of libxo calls (see driver.cpp), command-line
arguments and environment.  The script runs under both builds of the
driver; standard output, standard error, the exit status and the values
the calls return must be the same, byte for byte.  Where both standard
output and standard error are written, the case runs once more with both
on one pipe, so that the order of the two is compared too.

Cases: the report rows of the program (its own row code) with varied
values, display widths and styles; --libxo options as users type them;
every diagnostic at every point of a document; odd document structure;
fixed field descriptors; and a seeded random exploration of descriptors.

A case may carry the id of a deliberate difference (the DELIBERATE table
below): that id must be described in the layer's README under
"## Deliberate differences", and the two builds must really differ on the
case.  Any other difference fails the test.

    run.py --bundled B --real R --readme xo/README.md [--random N]
           [--seed S] [--jobs N] [--only SUBSTRING] [--show N]
           [--ignore CHANNELS] [--list]
    run.py --bundled B --recorded CORPUS --readme xo/README.md
           [--stale FILE] [--random N] [--seed S] [...]
    run.py --skip MESSAGE          (report a skipped test)

With --recorded, the real libxo's part is played by its recordings
(one JSON object a line, gzip-compressed: the arguments, environment,
pipes and script of a run, and what the real library wrote for it).
Only the bundled build runs; each case is looked up by its arguments,
the environment variables that libxo reads, its pipes and its script.
A case the corpus does not hold is counted as having no recording and
listed, never passed.  The cases named in the --stale file are the
ones whose recordings the program's own report code has outgrown: they
are listed with their reasons and not compared.

XODIFF_RANDOM, XODIFF_SEED and XODIFF_JOBS in the environment override
--random, --seed and --jobs.
"""

import argparse
import base64
import concurrent.futures
import difflib
import fnmatch
import gzip
import json
import os
import random
import re
import subprocess
import sys
import tempfile

SKIP = 77


class Case:
    def __init__(self, name, script, args=(), env=None, deliberate=None):
        self.name = name
        self.script = script
        self.args = list(args)
        self.env = dict(env or {})
        self.deliberate = deliberate


def q(s):
    """Quotes a word for a script line."""
    out = ['"']
    for ch in s:
        if ch == '"':
            out.append('\\"')
        elif ch == '\\':
            out.append('\\\\')
        elif ch == '\n':
            out.append('\\n')
        elif ch == '\t':
            out.append('\\t')
        elif ord(ch) < 0x20 or ord(ch) == 0x7f:
            out.append('\\x%02x' % ord(ch))
        else:
            out.append(ch)
    out.append('"')
    return ''.join(out)


def qb(b):
    """Quotes bytes (possibly not UTF-8) for a script line."""
    out = ['"']
    for byte in b:
        ch = chr(byte)
        if ch in '"\\':
            out.append('\\' + ch)
        elif byte < 0x20 or byte >= 0x7f:
            out.append('\\x%02x' % byte)
        else:
            out.append(ch)
    out.append('"')
    return ''.join(out)


def s_arg(s):
    return 's:' + q(s)


# ------------------------------------------------------------------ cases

# How a user picks a style, and what the program does at start-up.
STYLE_ARGS = [
    ('text', []),
    ('json', ['--libxo=json']),
    ('json-pretty', ['--libxo=json,pretty']),
    ('xml', ['--libxo=xml']),
    ('xml-pretty', ['--libxo=xml,pretty']),
    ('html', ['--libxo=html']),
    ('html-pretty', ['--libxo=html,pretty']),
]

STARTUP = 'flags WARN|COLUMNS\nparse\n'
# The program's own document: its begin, its rows and its end.
OPEN = 'begin\n'
CLOSE = 'end\n'


def row(pid, jid, uid, user, command, why, text):
    return 'row %d %d %d %s %s %s %s\n' % (pid, jid, uid, q(user), q(command), why, q(text))


PLAIN_ROW = row(1234, 0, 0, 'root', 'sshd', 'so', '/usr/sbin/sshd')

# Values a row can carry: (label, user, command, arguments).
VALUES = [
    ('plain', 'root', 'sshd', '/usr/sbin/sshd -D'),
    ('empty', '', '', ''),
    ('long', 'averyveryverylongusername', 'a_very_long_command_name',
     '/usr/local/libexec/' + 'very/long/path/' * 30 + 'daemon --flag=' + 'x' * 200),
    ('markup', 'we<ird>&"\'\\', '<&>"\'\\cmd', 'arg with "quotes" & <tags> \\ and \'apos\' </arguments>'),
    ('entity', '&amp;', '&lt;x&gt;', '&#60; &quot; ]]> <![CDATA[ x ]]>'),
    ('latin', 'jürgen', 'ärgerlich.sh', '/home/jürgen/bin/ärgerlich.sh --grüße'),
    # Multibyte characters straddling the 12-byte cut of user and command.
    ('split2', 'abcdefghijkä', 'abcdefghijk€x', 'ö' * 50),
    ('split3', 'abcdefghij€', 'abcdefghijk日本', '日本語のコマンドの引数' * 10),
    ('split4', 'abcdefghijk😀', 'abcdefghi😀😀', '😀 emoji 😀 ' * 20),
    ('wide', '日本語ユーザー名', '日本語コマンド名です', '/opt/日本語/ディレクトリ/バイナリ'),
    ('combining', 'e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301', 'n\u0303' * 8, 'a\u0308' * 40),
    ('percent', '%s%d%n', '{braces}', '{:x/%s} %% %s %d {{}}'),
]


def report_cases():
    cases = []
    for label, user, command, text in VALUES:
        for sname, sargs in STYLE_ARGS:
            script = STARTUP + OPEN + PLAIN_ROW + row(56789, 3, 1001, user, command, 'bin', text) + CLOSE
            cases.append(Case('report/%s/%s' % (label, sname), script, sargs))
            if sname == 'text':
                for cols in ('9', '40', '80', '100000'):
                    cases.append(Case('report/%s/text/COLUMNS=%s' % (label, cols), script, [],
                                      {'COLUMNS': cols}))
                cases.append(Case('report/%s/text/COLUMNS=60/LANG=C' % label, script, [],
                                  {'COLUMNS': '60', 'LANG': 'C', 'LC_ALL': 'C'}))
    # An empty report, with and without the header, and the -w width.
    for sname, sargs in STYLE_ARGS:
        cases.append(Case('report/norows/%s' % sname, STARTUP + OPEN + CLOSE, sargs))
        cases.append(Case('report/noheader/%s' % sname,
                          STARTUP + 'noheader\n' + OPEN + PLAIN_ROW + CLOSE, sargs, {'COLUMNS': '50'}))
    # Display widths around and far above what the arguments need.
    long_text = 'A' * 70000
    for cols in ('1', '44', '45', '46', '200', '65536', '65537', '65600', '100000', '2147483647'):
        script = STARTUP + OPEN + PLAIN_ROW + row(2, 0, 0, 'daemon', 'cron', 'bin', long_text) + CLOSE
        cases.append(Case('width/COLUMNS=%s' % cols, script, [], {'COLUMNS': cols}))
    for prec in ('0', '9', '65535', '65536', '65537', '100000', '2147483647'):
        script = STARTUP + OPEN + 'oi process\nemit "{:arguments/%%.%ss}\\n" %s\nci process\n' % (
            prec, s_arg('x' * 100)) + CLOSE
        cases.append(Case('width/precision-%s' % prec, script))
    return cases


# A map file for the field renaming options.
NAMES_MAP = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'names.map')


# What a FreeBSD user can type: --libxo in its three forms, keywords,
# brief letters, repeated options, LIBXO_OPTIONS.
OPTION_SETS = [
    ['--libxo=json'], ['--libxo', 'json'], ['--libxo:J'], ['--libxo:JP'],
    ['--libxo=json,pretty'], ['--libxo', 'json,pretty'], ['--libxo:PJ'],
    ['--libxo=xml'], ['--libxo:X'], ['--libxo:XP'], ['--libxo=html'], ['--libxo:H'],
    ['--libxo:HP'], ['--libxo=text'], ['--libxo:T'], ['--libxo=xml,pretty,warn'],
    ['--libxo=json,pre'], ['--libxo=js'], ['--libxo=j'], ['--libxo=p,json'],
    ['--libxo=xml,json'], ['--libxo=json,xml,html'], ['--libxo:XJ'],
    ['--libxo=json', '--libxo=xml'], ['--libxo:J', '--libxo:X'], ['--libxo', 'json', '--libxo', 'xml'],
    ['--libxo=json', '--libxo=pretty'],
    ['--libxo='], ['--libxo:'], ['--libxo'], ['--libxo', ''], ['--libxo', '--libxo=json'],
    ['--libxo=bogus'], ['--libxo=json,bogus'], ['--libxo:Q'], ['--libxo:XQ'], ['--libxo:Jq'],
    ['--libxo:J?P'], ['--libxo=,json'], ['--libxo=json,,pretty'], ['--libxo=json,'],
    ['--libxo=indent=4,json,pretty'], ['--libxo=json,pretty,indent=8'], ['--libxo=xml,pretty,indent=0'],
    ['--libxo=indent=x,json'], ['--libxo=indent,json,pretty'], ['--libxo:JPi4'], ['--libxo:XPi'],
    ['--libxo:i3XP'], ['--libxo=colors=red', '--libxo=json'], ['--libxo=json,colors=red'],
    ['--libxo=color'], ['--libxo=no-color'], ['--libxo=warn-xml,xml'], ['--libxo=xml,warn-xml'],
    ['--libxo=xpath,html'], ['--libxo=html,xpath,pretty'], ['--libxo=html,pretty,keys'],
    ['--libxo=xml,keys'], ['--libxo=html,info'], ['--libxo=json,underscores'], ['--libxo=json,no-top'],
    ['--libxo=json,no-top,pretty'], ['--libxo=xml,no-top'], ['--libxo=TEXT'], ['--libxo=Json'],
    ['--libxo=json', '-b', '-H', 'sshd'], ['-b', '--libxo=xml', 'x', '--libxo=pretty'],
    ['--', '--libxo=json'], ['x', '--', '--libxo=json'],
    ['--libxo=flush'], ['--libxo=flush-line'], ['--libxo=no-locale'], ['--libxo=warn'],
    ['--libxo=no-humanize'], ['--libxo=units'], ['--libxo=dtrt'], ['--libxo=log-syslog'],
    ['--libxo=retain'], ['--libxo=no-retain'], ['--libxo=debug'], ['--libxo=allow-color'],
    ['--libxo:W'], ['--libxo:k'], ['--libxo:Xku'], ['--libxo:x'], ['--libxo:I'], ['--libxo:F'],
    ['--libxo:f'], ['--libxo:n'], ['--libxo:U'], ['--libxo:c'], ['--libxo:JPWkuFf'],
    ['--libxo=json=1'], ['--libxo=pretty=yes'], ['--libxo=encoder=cbor'], ['--libxo=encoder=json'],
    ['--libxox'], ['--libxojson'], ['--lib=json'], ['-libxo=json'], ['--LIBXO=json'],
    ['--libxo=json pretty'], ['--libxo= json'], ['--libxo=json\tpretty'],
    # Field renaming.
    ['--libxo=json,map=process=proc:pid=p'], ['--libxo=xml,pretty,map=pid=1pid:user=u:'],
    ['--libxo=json,map=:pid=p'], ['--libxo=json,map==x'], ['--libxo=json,map'],
    ['--libxo=json,map-file'], ['--libxo=json,map-file=/nonexistent/names.map'],
    ['--libxo=json,map-file=' + NAMES_MAP], ['--libxo=xml,map-file=%s,map=pid=q' % NAMES_MAP],
    ['--libxo=html,xpath,map-file=' + NAMES_MAP], ['--libxo=@cbor'],
]

ENV_OPTIONS = [
    ({'LIBXO_OPTIONS': 'json'}, []), ({'LIBXO_OPTIONS': 'json,pretty'}, []),
    ({'LIBXO_OPTIONS': 'xml'}, ['--libxo=json']), ({'LIBXO_OPTIONS': ':JP'}, []),
    ({'LIBXO_OPTIONS': 'JP'}, []), ({'LIBXO_OPTIONS': 'pretty'}, ['--libxo=json']),
    ({'LIBXO_OPTIONS': 'bogus'}, []), ({'LIBXO_OPTIONS': ''}, []),
    ({'LIBXO_OPTIONS': 'warn,xml'}, []),
]


def option_cases():
    cases = []
    body = OPEN + PLAIN_ROW + row(7, 12, -2, '-2', 'we<ird>&"cmd\'', 'bin', 'a & b') + CLOSE
    for opts in OPTION_SETS:
        cases.append(Case('options/' + ' '.join(opts), STARTUP + body, opts, {'COLUMNS': '70'}))
    for env, opts in ENV_OPTIONS:
        name = 'options/LIBXO_OPTIONS=%s %s' % (env['LIBXO_OPTIONS'], ' '.join(opts))
        cases.append(Case(name.rstrip(), STARTUP + body, opts, env))
    # The program's reaction to a failed parse: exit 1 at once.
    for opts in (['--libxo=bogus'], ['--libxo'], ['--libxo:Q']):
        cases.append(Case('options/parse-only ' + ' '.join(opts), STARTUP + 'exit 0\n', opts))
    # Without the program's flags (no WARN: quiet).
    for opts in (['--libxo=bogus'], ['--libxo:Q'], ['--libxo=json,pre']):
        cases.append(Case('options/noflags ' + ' '.join(opts), 'parse\n' + body, opts))
    return cases


# Every diagnostic at every point of the document.
DIAGS = [
    ('warn', 'errno 13\nwarn "procstat_getprocs()"\n'),
    ('warnx', 'warnx "user \\"%s\\" not found" ' + s_arg('no<such>&"x"') + '\n'),
    ('warnx-nl', 'warnx "trailing newline %d\\n" i:7\n'),
    ('err', 'errno 2\nerr 2 "open %s" s:/etc/x\n'),
    ('errx', 'errx 1 "jail \\"%s\\" not found" s:j1\n'),
    ('error', 'usage\n'),
    ('error-nonl', 'error "no newline <&> \'%s\' %d" s:\\"q\\" i:5\n'),
]

POINTS = ['start', 'parsed', 'container', 'list', 'instance', 'instance-closed', 'list-closed',
          'container-closed', 'finished']


def diag_script(point, diag):
    steps = [('start', ''), ('parsed', STARTUP), ('container', 'version 2\noc stalewatch\n'),
             ('list', 'ol process\n'),
             ('instance', 'oi process\nemit "{kw:pid/%5d/%d}" i:1234\nemit "{w:user/%-12.12s/%s}" s:root\n'),
             ('instance-closed', 'emit "{:arguments/%s}\\n" s:/usr/sbin/sshd\nci process\n'),
             ('list-closed', 'cl process\n'), ('container-closed', 'cc stalewatch\n'),
             ('finished', 'finish\n')]
    out = []
    for name, text in steps:
        out.append(text)
        if name == point:
            out.append(diag)
    if point == 'finished':
        out.append('finish\n')  # as after a usage message
    return ''.join(out)


def diag_cases():
    cases = []
    for dname, diag in DIAGS:
        # The program's own diagnostics in every style, the others in the
        # plain ones.
        styles = STYLE_ARGS if dname in ('warn', 'errx', 'error') else [STYLE_ARGS[i] for i in (0, 1, 3, 5)]
        for point in POINTS:
            for sname, sargs in styles:
                cases.append(Case('diag/%s/%s/%s' % (dname, point, sname), diag_script(point, diag), sargs))
    # Odd arguments.
    for sname, sargs in STYLE_ARGS:
        for label, d in (('warn-null', 'errno 1\nwarn null\n'), ('warnx-empty', 'warnx ""\n'),
                         ('error-empty', 'error ""\n'), ('errx-null', 'errx 4 null\n'),
                         ('warnx-long', 'warnx "%s" ' + s_arg('long ' * 400) + '\n'),
                         ('error-multiline', 'error "two\\nlines\\n"\n'),
                         ('warn-errno0', 'errno 0\nwarn "zero"\n'),
                         ('error-multibyte', 'error "grüße %s\\n" ' + s_arg('日本語 <b>') + '\n')):
            script = STARTUP + OPEN + 'oi process\n' + d + 'ci process\n' + CLOSE
            cases.append(Case('diag/%s/%s' % (label, sname), script, sargs))
    # Warnings as XML (warn-xml), the program's and libxo's own.
    for style in ('text', 'xml', 'json', 'html'):
        script = (STARTUP + OPEN + 'oi process\nwarnx "user %s" ' + s_arg('<x&y>') +
                  '\nerrno 13\nwarn "open"\ncl nosuch\nci process\n' + CLOSE)
        cases.append(Case('diag/warn-xml/%s' % style, script, ['--libxo=%s,warn-xml' % style]))
    # A diagnostic before start-up names the program as start-up would.
    cases.append(Case('diag/program-set', 'program myprog\nwarnx "named"\n' + STARTUP + 'warnx "again"\n',
                      ['--libxo=json']))
    return cases


# Calls with odd structure, return values, flush and the 'text' flags.
def structure_cases():
    cases = []
    scripts = {
        'close-unopened': 'cl nosuch\ncc nosuch\nci nosuch\n',
        'close-wrong-name': 'oc a\nol b\noi c\ncc a\n',
        'close-skipping': 'oc a\noc b\noc c\ncc a\n',
        'close-null': 'oc a\nol b\noi b\nci null\ncl null\ncc null\n',
        'open-null': 'oc null\nol null\noi null\noc ""\n',
        'instance-outside-list': 'oc a\noi b\nemit "{:x/%d}" i:1\nci b\n',
        'list-in-list': 'ol a\nol b\nemit "{:x/%d}" i:1\ncl b\ncl a\n',
        'value-in-list': 'oc top\nol items\nemit "{:x/%d}" i:1\nemit "{:y/%s}" s:two\ncl items\n',
        'two-lists': 'oc top\nol a\noi a\nemit "{:x/%d}" i:1\nci a\ncl a\nol b\noi b\nemit "{:y/%d}" i:2\nci b\ncl b\n',
        'empty-instance': 'ol a\noi a\nci a\noi a\nci a\ncl a\n',
        'emit-null': 'emit null\n',
        'emit-empty': 'emit ""\n',
        'emit-text-only': 'emit "just text\\n"\nemit "more"\nemit "\\n"\n',
        'emit-hv': 'oc a\nemitv "{:x/%d} {:y/%s}\\n" i:1 s:two\nemitv "{Lwc:Label}{:z/%5s}\\n" s:<&>\nemitv null\n',
        'finish-twice': 'oc a\nemit "{:x/%d}\\n" i:1\nfinish\nfinish\n',
        'emit-after-finish': 'oc a\nemit "{:x/%d}\\n" i:1\nfinish\nemit "{:y/%d}\\n" i:2\nfinish\n',
        'no-finish': 'oc a\nol b\noi b\nemit "{:x/%d}\\n" i:1\n',
        'no-finish-exit': 'oc a\nemit "{:x/%d}\\n" i:1\nexit 3\n',
        'flush': 'oc a\nemit "{:x/%d}\\n" i:1\nflush\nflush\nemit "{:y/%d}\\n" i:2\nfinish\nflush\n',
        'version-late': 'oc a\nversion 3\nemit "{:x/%d}\\n" i:1\n',
        'version-twice': 'version 1\nversion 2\noc a\nemit "{:x/%d}\\n" i:1\n',
        'version-markup': 'version ' + q('1<&>"\'') + '\noc a\nemit "{:x/%d}\\n" i:1\n',
        'version-empty': 'version ""\noc a\n',
        'getstyle': 'getstyle\nstyle json\ngetstyle\nstyle html\ngetstyle\n',
        'style-midway': 'oc a\nemit "{:x/%d}\\n" i:1\nstyle xml\nemit "{:y/%d}\\n" i:2\n',
        'names-markup': 'oc ' + q('a<b') + '\noi ' + q('c&d') + '\nemit "{:e\\"f/%d}\\n" i:1\n',
        'names-underscore': 'flags UNDERSCORES\noc my-top\nol my-list\noi my-list\nemit "{:my-field/%d}\\n" i:1\n',
        'keys': 'flags KEYS\nol l\noi l\nemit "{k:name/%s}{:v/%d}\\n" s:n1 i:2\nci l\ncl l\n',
        'no-top': 'flags NO_TOP\noc a\nemit "{:x/%d}\\n" i:1\ncc a\n',
        'no-top-version': 'flags NO_TOP\nversion 2\noc a\nemit "{:x/%d}\\n" i:1\ncc a\n',
        'flush-line': 'flags FLUSH_LINE\noc a\nemit "{:x/%d}\\n" i:1\nwarnx "mid"\nemit "{:y/%d}" i:2\nwarnx "after"\n',
        'flush-flag': 'flags FLUSH\noc a\nemit "{:x/%d}" i:1\nwarnx "mid"\n',
        'warn-midline': 'oc a\nemit "{:x/%d}" i:1\nwarnx "mid-line"\nemit "{:y/%d}\\n" i:2\n',
        'clear-flags': 'flags PRETTY|WARN\nclear PRETTY\noc a\nemit "{:x/%d}\\n" i:1\n',
        # An instance of the list whose instance is open ends that one.
        'instance-again': 'ol i\noi i\nemit "{:a/%s}" s:1\noi i\nemit "{:a/%s}" s:2\nci i\ncl i\n',
        'instance-other': 'ol i\noi i\nemit "{:a/%s}" s:1\noi j\nemit "{:b/%s}" s:2\nci j\nci i\ncl i\n',
        # A container or a list opened in a list ends it.
        'container-in-list': 'oc top\nol l\noc d\nemit "{:y/%d}" i:2\ncc d\ncl l\n',
        'list-in-open-list': 'oc top\nol l\noi l\nci l\nol m\noi m\nci m\ncl m\n',
        'xpath-keys': 'flags XPATH|KEYS\nol e\noi e\nemit "{k:a/%s}{k:b/%s}{:c/%s}\\n" s:1 s:2 s:3\n'
                      'oi e\nemit "{k:a/%s}{:c/%s}{k:b/%s}\\n" s:4 s:5 s:6\nci e\ncl e\n',
        'markers': 'oc top\nom m1\noc in\nemit "{:x/%d}\\n" i:1\ncc top\ncm m1\ncm zz\n'
                   'flags XPATH\nom m2\nol l\noi l\nemit "{:y/%d}\\n" i:2\ncc top\n',
        'leaf-lists': 'oc top\nemit "{l:s/%s}{l:s/%s}{:o/%d}{l:s/%s}\\n" s:a s:b i:1 s:c\nol f\n'
                      'emit "{lq:f/one} {lq:f/two}\\n"\ncl f\nemit "{l:t/%s}\\n" s:x\noc c\ncc c\n'
                      'emit "{l:u/%d}" i:1\nol v\noi v\nemit "{l:w/%d}" i:2\n',
        'attributes': 'oc top\nattr at "%d<&" i:5\noc c\nattr x y\nemit "{:v/%d}\\n" i:1\nattr z w\n'
                      'ol l\nattr li 1\noi l\nemit "{:v/%d}\\n" i:2\ncl l\ncc c\n',
        'dtrt': 'ocd d\nold l\noid l\nemit "{:v/%d}\\n" i:1\ncid\ncld\nccd\noc n\nccd\n',
        'messages': 'oc top\nemit "{:a/%d}" i:1\nmessage one\nmessagec 2 "two %d" i:2\n'
                    'emit "{:b/%d}\\n" i:2\nmessage "three\\n"\n',
        'errorn': 'oc top\nerrorn m1\nerrorn "m2\\n"\nerror m3\n',
        'emit-warn': 'oc top\nemit "{:a/%d}\\n" i:1\newarnc 13 "code {:t/%s}" s:c\n'
                     'ewarnc -1 "nl {:thing/%d}\\n" i:5\nemit "{:b/%d}\\n" i:2\n',
        'emit-field': 'oc top\nfield Lc lab null null\nfield null val "%5d" "%d" i:7\n'
                      'field k kk null null s:s\nemit "\\n"\n',
        'emitr': 'oc top\nemitr "{:a/%d}\\n" i:1\nemitr "{:a/%d}\\n" i:2\n',
        'set-options': 'options "map=a=x:bb=y"\noptions bogus\noc top\nemit "{:a/%d}{:bb/%d}\\n" i:1 i:2\n',
        'colors': 'flags COLOR\noc top\nemit "{C:bold,fg-red}{:x/%s}{C:no-bold}|{C:/bg-%s}{C:}\\n" s:y s:blue\n'
                  'emit "{C:inverse}{:x/%s}{C: normal , fg-green }{:z/%s}{C:bogus}{T:t}\\n" s:y s:w\n'
                  'emit "{C:underline,inverse}{Lc:l}{C:no-inverse,bg-cyan}{:v/%d}{C:reset}\\n" i:1\n',
        'xml-names': 'oc 2by4\nemit "{:4x4/%d}{:ok/%d}{:_u/%d}\\n" i:1 i:2 i:3\ncc 2by4\n',
    }
    for label, body in sorted(scripts.items()):
        for sname, sargs in STYLE_ARGS:
            cases.append(Case('structure/%s/%s' % (label, sname), STARTUP + body + 'finish\n', sargs))
    return cases


# Fixed field descriptors with their values, through every style; what
# xo_emit returns is compared with the output.
FIELDS = [
    ('{kw:pid/%5d/%d}', 'i:1234'), ('{kw:pid/%5d/%d}', 'i:-2147483648'), ('{w:jid/%5d/%d}', 'i:123456'),
    ('{e:uid/%d/%d}', 'i:-2'), ('{w:user/%-12.12s/%s}', s_arg('root')),
    ('{w:user/%-12.12s/%s}', s_arg('abcdefghijklmnop')), ('{w:why/%-3s/%s}', 's:.so'),
    ('{:arguments/%s}\n', s_arg('/usr/sbin/sshd -D')), ('{:arguments/%.20s}\n', s_arg('x' * 40)),
    ('{Tw:/%5s}{Tw:/%5s}{Tw:/%-12.12s}{Tw:/%-12.12s}{Tw:/%-3s}{T:/%s}\n',
     ' '.join(s_arg(x) for x in ('PID', 'JID', 'USER', 'COMMAND', 'WHY', 'ARGUMENTS'))),
    ('{:name}', s_arg('value')), ('{:name/%d}', 'i:0'), ('{:name/%u}', 'u:4294967295'),
    ('{:name/%x}', 'i:255'), ('{:name/%#X}', 'i:255'), ('{:name/%o}', 'i:8'), ('{:name/%#o}', 'i:0'),
    ('{:name/%c}', 'i:65'), ('{:name/%lld}', 'll:-9223372036854775807'), ('{:name/%ld}', 'l:42'),
    ('{:name/%hhd}', 'i:300'), ('{:name/%hd}', 'i:70000'), ('{:name/%+d}', 'i:5'), ('{:name/% d}', 'i:5'),
    ('{:name/%05d}', 'i:-42'), ('{:name/%-5d|}', 'i:42'), ('{:name/%.3d}', 'i:7'), ('{:name/%.0d}', 'i:0'),
    ('{:name/%*d}', 'i:6 i:3'), ('{:name/%-*s|}', 'i:6 s:ab'), ('{:name/%.*s}', 'i:2 s:abcdef'),
    ('{:name/%s}', 's:""'), ('{:name/%s}', 'null'), ('{:name/%5s}', s_arg('äöü')),
    ('{:name/%-6.2s|}', s_arg('日本語')), ('{:name/%.4s}', s_arg('äöü')), ('{:name/%3.1s}', s_arg('😀x')),
    ('{:name/%s}', s_arg('<&>"\'\\')), ('{:name/%d} and {:other/%s}', 'i:1 s:two'),
    ('{L:Label}', ''), ('{L:/%s}', s_arg('dyn<label>')), ('{T:Title/%-10s}|', ''), ('{D:/}', ''),
    ('{P:   }', ''), ('{N:note}', ''), ('{U:units}', ''), ('{Lc:Name}{:name/%s}', s_arg('v')),
    ('{Lwc:Name}{:name/%s}', s_arg('v')), ('{:name/%s}{U:/%s}', s_arg('5') + ' s:kB'),
    ('{t:name/%s}', s_arg('  padded  ')), ('{q:num/%d}', 'i:5'), ('{n:str/%s}', s_arg('bare')),
    ('{d:name/%s}', s_arg('display only')), ('{e:name/%s}', s_arg('encoding only')),
    ('{:name/%5d/%x}', 'i:255'), ('{:name/%s/%s}', s_arg('both')), ('{:name//%d}', 'i:3'),
    ('{k:key/%s}', s_arg('k1')), ('{a:/%s}', s_arg('argname') + ' ' + s_arg('argvalue')),
    ('{{literal}} {:x/%d} }}', 'i:1'), ('text\nmore\n', ''), ('{:x/%d}%%', 'i:1'),
    ('{W:warning text}', ''), ('{E:error text}', ''), ('{Uc:units}', ''), ('{:my-name/%s}', s_arg('dash')),
    ('{:x/%s}', s_arg('x' * 5000)), ('{:x/%5000s}', s_arg('y')),
    # Malformed descriptors.
    ('{:x/%d', 'i:1'), ('{:x/%y}', 'i:1'), ('{z:x/%d}', 'i:1'), ('{:/%d}', 'i:1'), ('{}', ''),
    ('{:x/%}', ''), ('{:x/%k}', 'i:1'),
    # An encoding-only field still takes its argument in text style.
    ('{e:pid/%d}{:x/%s}', 'i:1000 ' + s_arg('after')), ('{d:pid/%d}{:x/%s}', 'i:1000 ' + s_arg('after')),
    ('{:x/%.s}|{:y/%5.d}', s_arg('abc') + ' i:7'),
    # Descriptors as libxo reads them.
    ('{e:empty-tag/}{:v/}{:w//}|', ''), ('{G:/%s}{:from/%s}', s_arg('ldns') + ' ' + s_arg('foop')),
    ('{G:/%s}{:n/%d}', s_arg('ldns') + ' i:5'), ('{L:a\\/b}', ''),
    ('{L:/x\\/y %s}{:n/%u}', 's:S i:7'), ('{:x\\/y/%d}', 'i:4'), ('{n:w/%s}', 'null'),
    ('{La:}|{a:}', s_arg('ARG') + ' ' + s_arg('name') + ' ' + s_arg('value')), ('[{T:}{L:}{P:}]', ''),
    ('a{{b}}c', ''), ('{:4x4/%d}', 'i:4'), ('{,title:/before%safter:}', 's:X'),
    ('{,display,white,colon:some/%s}{,value:ten/%d}', 's:S i:10'), ('{,note:/n%s}', 's:1'),
    ('({[:/%d}{:min/%u}/{:max/%u}{]:})', 'i:18 i:15 i:125'), ('({[:-12}{:a/%u}{]:})', 'i:1'),
    ('({[:}{:b/%s}{]:/%d})', s_arg('xy') + ' i:-9'), ('{lw:bytes/%d}{Np:byte,bytes}', 'i:1'),
    ('{lw:bytes/%d}{Np:byte,bytes}', 'i:2'),
    ('{:v/%-6..3s|}{:u/%5s}', s_arg('日本語x') + ' ' + s_arg('ab')),
    ('{U:%%}{:x/%hs}', s_arg('hs')), ('{:x/%d}{U:/%s}{:y/%d}{Uw:z}', 'i:1 s:kB i:2'),
    ('{h:a/%u} {h,hn-space:b/%u} {h,hn-decimal:c/%u} {h,hn-1000:d/%u}', 'u:21 u:58368 u:1342172800 u:44470272'),
    ('{h:a/%u} {h:b/%u} {h,hn-decimal:c/%u} {h,hn-decimal:d/%u}', 'u:1023 u:1024 u:10239 u:1048063'),
    ('{h:a/%u} {h,hn-1000:b/%u} {h,hn-decimal,hn-1000:c/%u}', 'u:9999 u:999999 u:9950'),
    ('{h:a/%lld} {h,hn-space,hn-decimal:b/%lld}', 'll:1535 ll:1099511627776'),
]


# Field cases run in these styles; XOF_COLUMNS changes what xo_emit returns.
FIELD_STYLES = [('text', [], 'WARN'), ('text/columns', [], 'WARN|COLUMNS'),
                ('json/columns', ['--libxo=json'], 'WARN|COLUMNS'), ('json-pretty', ['--libxo=json,pretty'], 'WARN'),
                ('xml/columns', ['--libxo=xml'], 'WARN|COLUMNS'),
                ('html/columns', ['--libxo=html'], 'WARN|COLUMNS')]


def field_cases():
    cases = []
    for i, (fmt, vals) in enumerate(FIELDS):
        for sname, sargs, flags in FIELD_STYLES:
            script = 'flags %s\nparse\noc top\nemit %s %s\nemit "\\n"\ncc top\nfinish\n' % (flags, q(fmt), vals)
            cases.append(Case('field/%02d %s/%s' % (i, fmt.replace('\n', '\\n'), sname), script, sargs))
    return cases


# Where the layer deliberately writes something else than libxo: case name
# patterns (fnmatch) and the id of the difference, as described in the
# layer's README under "## Deliberate differences" (the longest matching
# pattern wins; None: not deliberate).  Nothing else may differ.
DELIBERATE = {
    'deliberate/control/json*': 'json-control-characters',
    'deliberate/control/xml*': 'xml-control-characters',
    'deliberate/invalid-utf8/*': 'invalid-utf-8',
    'deliberate/invalid-utf8/text/nocolumns': None,  # both write the bytes as they are
    'deliberate/title-markup/*': 'html-title-escaping',
    'deliberate/star-zero-precision/*': 'star-width-zero-precision',
    'structure/finish-twice/json*': 'json-after-finish',
    'structure/flush/json*': 'json-after-finish',
    'structure/emit-after-finish/json*': 'json-after-finish',
    'structure/close-unopened/json*': 'close-unopened',
    'structure/close-unopened/xml*': 'close-unopened',
    'structure/names-markup/html*': 'html-title-escaping',
    'structure/version-twice/xml*': 'xml-version-twice',
    'structure/open-null/*': 'open-without-name',
    'structure/style-midway/text': 'style-change',
    'structure/style-midway/json*': 'style-change',
    'structure/style-midway/html*': 'style-change',
    'structure/no-finish-exit/*': 'flush-at-exit',
    'structure/two-lists/html*': 'html-open-line',
    'structure/flush-flag/html*': 'html-open-line',
    'structure/flush-line/html*': 'html-open-line',
    'structure/instance-outside-list/html*': 'html-open-line',
    'structure/list-in-list/html*': 'html-open-line',
    'structure/value-in-list/html*': 'html-open-line',
    'structure/instance-again/html*': 'html-open-line',
    'structure/instance-other/html*': 'html-open-line',
    'structure/leaf-lists/html*': 'html-open-line',
    'structure/container-in-list/html*': 'html-open-line',
    'field/22 {:name/%+d}/json*': 'json-numbers',
    'field/26 {:name/%.3d}/json*': 'json-numbers',
    'field/27 {:name/%.0d}/json*': 'json-numbers',
    'field/69 {:x/%y}/*': 'unsupported-conversions',
    'field/73 {:x/%}/*': 'unsupported-conversions',
    'field/74 {:x/%k}/*': 'unsupported-conversions',
    'field/71 {:/%d}/json*': 'missing-field-name',
    'field/71 {:/%d}/xml*': 'missing-field-name',
    'field/71 {:/%d}/html*': 'missing-field-name',
    'options/--libxo:JPi4': 'brief-indent',
    'options/--libxo:i3XP': 'brief-indent',
    'diag/warn-xml/*': 'warn-xml',
    'diag/error-empty/json*': 'json-empty-error',
    # After xo_finish and a diagnostic, the document is finished again.
    'diag/*/finished/json*': 'json-after-finish',
    # xo_err and xo_errx end the document in the middle of a line.
    'diag/err/instance/html*': 'html-open-line',
    'diag/errx/instance/html*': 'html-open-line',
}
# Values outside ASCII in the C locale.
for _label in ('latin', 'split2', 'split3', 'split4', 'wide', 'combining'):
    DELIBERATE['report/%s/text/COLUMNS=60/LANG=C' % _label] = 'locale-conversion'


# Values on which the layer and libxo part on purpose.
def deliberate_cases():
    cases = []
    # Control characters: raw in libxo's JSON and XML (HTML: both raw).
    for sname, sargs in STYLE_ARGS[1:]:
        script = STARTUP + OPEN + row(1, 0, 0, 'root', 'tab\there', 'bin', 'esc\x1b[31m and \x01') + CLOSE
        cases.append(Case('deliberate/control/%s' % sname, script, sargs))
    # Bytes that are not UTF-8.
    for sname, sargs in STYLE_ARGS:
        for cols in (True, False):
            flags = 'WARN|COLUMNS' if cols else 'WARN'
            script = 'flags %s\nparse\noc top\nemit "{:v/%%s}\\n" %s\ncc top\nfinish\n' % (
                flags, 's:' + qb(b'ab\xffcd'))
            cases.append(Case('deliberate/invalid-utf8/%s/%s' % (sname, 'columns' if cols else 'nocolumns'),
                              script, sargs))
    # A star width with a string precision of 0: libxo pads with zeros.
    for sname, sargs in (STYLE_ARGS[0], STYLE_ARGS[3]):
        script = STARTUP + 'emit "[{:v/%*.0s}]\\n" i:4 s:abc\nfinish\n'
        cases.append(Case('deliberate/star-zero-precision/%s' % sname, script, sargs))
    # A title's argument with markup characters: libxo escapes it twice in HTML.
    for sname, sargs in STYLE_ARGS[5:]:
        script = STARTUP + 'emit "{T:/%s}{Tw:/%-6s}\\n" ' + s_arg('<a&b>') + ' ' + s_arg('"x"') + '\nfinish\n'
        cases.append(Case('deliberate/title-markup/%s' % sname, script, sargs))
    return cases


# ------------------------------------------------------- random fields

INT_VALUES = [0, 1, -1, 7, 42, 255, 1000, 65535, 65536, 99999, 123456, 2147483647, -2147483648]
LL_VALUES = INT_VALUES + [4294967296, -4294967297, 9223372036854775807, -9223372036854775807]
STR_VALUES = ['', 'a', 'root', 'sshd', 'hello world', '/usr/local/sbin/daemon', 'x' * 40,
              '<b>&amp;</b>', 'say "hi"', "it's", 'back\\slash', '{curly}', '%d%s',
              'äöü', 'grüße', '日本語', 'né', 'e\u0301', '😀', 'mixed 日本 äb <&> "q"', '  pad  ',
              'abcdefghijk€', 'a' * 200]
NAMES = ['name', 'pid', 'user', 'my-field', 'x', 'arguments', 'a1']
TEXTS = ['Name', 'PID', 'Title text', 'ärger', '<&>', 'x']
LITERALS = ['', '', ' ', ': ', '\n', '|', '{{x}}', ' & ', 'ü']


def random_conv(rng, kind, star=False, json=False):
    """A random printf conversion for an argument of the given kind; with
    star, the width comes from an int argument before the value."""
    flags = ''.join(ch for ch in '-+ 0#' if rng.random() < 0.12)
    if star:
        width = '*'
    else:
        width = '' if rng.random() < 0.6 else str(rng.choice([0, 1, 2, 5, 8, 12, 20]))
    prec = ''
    if rng.random() < 0.35:
        prec = '.' + (str(rng.choice([0, 1, 2, 3, 5, 12])) if rng.random() < 0.9 else '')
    if kind in 'sc':
        flags = ''.join(ch for ch in flags if ch == '-')
        if star and prec == '.0':
            prec = '.1'  # libxo pads with zeros there: a deliberate difference
        return '%' + flags + width + (prec if kind == 's' else '') + kind
    conv = rng.choice('diuxXo')
    if conv in 'uxXo':
        flags = flags.replace('+', '').replace(' ', '')
    if conv in 'diu':
        flags = flags.replace('#', '')
    if json:
        # Integer texts that are not JSON numbers (+5, 007, an empty
        # value) are a deliberate difference.
        flags = flags.replace('+', '').replace(' ', '').replace('0', '')
        prec = ''
    length = rng.choice(['', '', '', 'h', 'hh']) if kind == 'i' else rng.choice(['l', 'll', 'j', 'z', 't'])
    return '%' + flags + width + prec + length + conv


def random_value(rng, kind):
    if kind == 's':
        return s_arg(rng.choice(STR_VALUES))
    if kind == 'c':
        return 'i:%d' % rng.randint(32, 126)
    if kind == 'i':
        return 'i:%d' % rng.choice(INT_VALUES + [rng.randint(-100000, 100000)])
    return 'l:%d' % rng.choice(LL_VALUES)


def random_field(rng, json):
    """One field descriptor and the arguments it takes."""
    # W and E (warning and error roles) have fixed cases of their own.
    role = rng.choice(['', '', '', '', 'V', 'T', 'L', 'D', 'P', 'N', 'U'])
    mods = ''.join(m for m in 'kwedqnct' if rng.random() < 0.1)
    if role in ('N', 'U'):
        mods = mods.replace('c', '')  # libxo ignores it there, with a warning (a fixed case)
    if role in ('', 'V'):
        kind = rng.choice(['s', 's', 'i', 'i', 'l', 'c'])
        name = rng.choice(NAMES)
        if rng.random() < 0.15:
            return '{%s%s:%s}' % (role, mods, name), [s_arg(rng.choice(STR_VALUES))]
        star = rng.random() < 0.1
        disp = random_conv(rng, kind, star, json)
        vals = [random_value(rng, kind)]
        enc = ''
        if star:
            # The encoding format reads the same arguments: give it the star too.
            vals.insert(0, 'i:%d' % rng.choice([0, 3, 10, -4]))
            if rng.random() < 0.35:
                enc = '/' + random_conv(rng, kind, True, json)
        elif rng.random() < 0.35:
            enc = '/' + random_conv(rng, kind, False, json)
        return '{%s%s:%s/%s%s}' % (role, mods, name, disp, enc), vals
    mods = mods.replace('k', '').replace('e', '').replace('d', '').replace('q', '').replace('n', '')
    if rng.random() < 0.5:
        return '{%s%s:%s}' % (role, mods, rng.choice(TEXTS).replace('/', '')), []
    values = STR_VALUES
    if role == 'T':
        # Markup in a title's argument is a deliberate difference.
        values = [v for v in STR_VALUES if not set(v) & set('<>&')]
    return '{%s%s:/%s}' % (role, mods, random_conv(rng, 's')), [s_arg(rng.choice(values))]


def random_case(rng, index):
    sname, sargs = rng.choice(STYLE_ARGS)
    flags = ['WARN'] + [f for f in ('COLUMNS', 'KEYS', 'UNDERSCORES') if rng.random() < 0.4]
    lines = ['flags ' + '|'.join(flags), 'parse', 'oc top']
    in_list = rng.random() < 0.5
    if in_list:
        lines += ['ol item', 'oi item']
    for _ in range(rng.randint(1, 4)):
        fmt = ''
        vals = []
        for _ in range(rng.randint(1, 3)):
            field, fvals = random_field(rng, sname.startswith('json'))
            if len(vals) + len(fvals) > 6:
                break
            fmt += rng.choice(LITERALS) + field
            vals += fvals
        ended = rng.random() < 0.6
        if ended:
            fmt += '\n'
        lines.append('emit %s %s' % (q(fmt), ' '.join(vals)))
    if not ended:
        lines.append('emit "\\n"')  # an HTML line left open at the end is a deliberate difference
    if in_list:
        lines += ['ci item', 'cl item']
    lines += ['cc top', 'finish']
    return Case('random/%d/%s' % (index, sname), '\n'.join(lines) + '\n', sargs)


# ---------------------------------------------------------------- running

def libxo_reads(key):
    """True for the environment variables that can change libxo's output."""
    return key in ('COLUMNS', 'LINES', 'LIBXO_OPTIONS', 'LANG', 'LANGUAGE', 'TERM') or key.startswith('LC_')


def base_env(extra):
    env = {k: v for k, v in os.environ.items() if not libxo_reads(k)}
    env['LANG'] = 'C.UTF-8'
    # The real libxo is not instrumented; its allocations are its own.
    env['ASAN_OPTIONS'] = 'detect_leaks=0:' + os.environ.get('ASAN_OPTIONS', '')
    env.update(extra)
    return env


def run_one(binary, case, workdir, merged):
    script = os.path.join(workdir, 'script')
    sidefile = os.path.join(workdir, 'side')
    with open(script, 'w', encoding='utf-8', errors='surrogateescape') as f:
        f.write(case.script)
    if os.path.exists(sidefile):
        os.unlink(sidefile)
    env = base_env(case.env)
    env['XODIFF_SCRIPT'] = script
    env['XODIFF_SIDE'] = sidefile
    try:
        p = subprocess.run(['stalewatch'] + case.args, executable=binary, env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT if merged else subprocess.PIPE, timeout=30)
        out, err, rc = p.stdout, p.stderr or b'', p.returncode
    except subprocess.TimeoutExpired:
        out, err, rc = b'', b'(timed out)', 'timeout'
    side = b''
    if os.path.exists(sidefile):
        with open(sidefile, 'rb') as f:
            side = f.read()
    return {'stdout': out, 'stderr': err, 'status': str(rc).encode() + b'\n', 'returns': side}


# ------------------------------------------------------------ recordings

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def record_key(args, env, merged, script):
    return (tuple(args), tuple(sorted(env.items())), bool(merged), script)


def case_key(case, merged):
    """The identity of a case's run, as the corpus writes it."""
    args = [a.replace(SOURCE, '@SOURCE@') for a in case.args]
    env = {k: v for k, v in base_env(case.env).items() if libxo_reads(k)}
    script = case.script.encode('utf-8', errors='surrogateescape')
    return record_key(args, env, merged, script)


def load_recordings(path):
    recordings = {}
    with gzip.open(path, 'rt', encoding='utf-8') as f:
        for line in f:
            if not line.strip():
                continue
            r = json.loads(line)
            key = record_key(r['args'], r['env'], r['merged'], base64.b64decode(r['script']))
            recordings[key] = {
                'stdout': base64.b64decode(r['stdout']),
                'stderr': base64.b64decode(r['stderr']),
                'status': str(r['status']).encode() + b'\n',
                'returns': base64.b64decode(r['returns']),
            }
    return recordings


def load_stale(path):
    """The stale list: 'PATTERN  REASON' a line, '#' starts a comment."""
    stale = []
    if not path:
        return stale
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith('#'):
                continue
            parts = line.split(None, 1)
            if len(parts) < 2:
                raise SystemExit('%s:%d: a stale case needs its reason' % (path, number))
            stale.append((parts[0], parts[1]))
    return stale


def show(b):
    """Bytes as readable lines: controls and bad UTF-8 escaped."""
    text = b.decode('utf-8', errors='backslashreplace')
    lines = []
    for line in text.split('\n'):
        lines.append(''.join(ch if ch == '\t' or ord(ch) >= 0x20 and ord(ch) != 0x7f
                             else '\\x%02x' % ord(ch) for ch in line))
    if lines and lines[-1] == '':
        lines.pop()
    else:
        lines.append('(no newline at end)')
    return lines


def clip(line, n=300):
    return line if len(line) <= n else line[:n] + '...(%d more)' % (len(line) - n)


def describe(case, diffs):
    out = ['--- %s' % case.name]
    env = ' '.join('%s=%s' % (k, v if len(v) < 40 else v[:40] + '...') for k, v in case.env.items())
    out.append('    run: %s stalewatch %s' % (env, ' '.join(repr(a) if (' ' in a or not a) else a
                                                       for a in case.args)))
    out.append('    script:')
    out += ['      ' + clip(line) for line in case.script.rstrip('\n').split('\n')]
    for channel, b, r in diffs:
        out.append('    %s differs (- bundled, + real):' % channel)
        d = list(difflib.unified_diff(show(b), show(r), lineterm='', n=1))[2:]
        minus = [x[1:] for x in d if x.startswith('-')]
        plus = [x[1:] for x in d if x.startswith('+')]
        if len(minus) == 1 and len(plus) == 1 and max(len(minus[0]), len(plus[0])) > 120:
            # One long line each: show where they part.
            i = 0
            while i < min(len(minus[0]), len(plus[0])) and minus[0][i] == plus[0][i]:
                i += 1
            start = max(0, i - 60)
            d.append('first difference at column %d:' % (i + 1))
            d.append('- ...' + minus[0][start:i + 80])
            d.append('+ ...' + plus[0][start:i + 80])
        if len(d) > 40:
            d = d[:40] + ['... (%d more diff lines)' % (len(d) - 40)]
        out += ['      ' + clip(line) for line in d]
    return '\n'.join(out)


def deliberate_ids(readme):
    try:
        with open(readme, encoding='utf-8') as f:
            text = f.read()
    except OSError:
        return set()
    m = re.search(r'^## Deliberate differences\s*$(.*?)(?=^## |\Z)', text, re.M | re.S)
    if not m:
        return set()
    return set(re.findall(r'^### ([a-z0-9]+(?:-[a-z0-9]+)*)\s*$', m.group(1), re.M))


def all_cases(nrandom, seed):
    cases = (report_cases() + option_cases() + diag_cases() + structure_cases() + field_cases()
             + deliberate_cases())
    rng = random.Random(seed)
    cases += [random_case(rng, i) for i in range(nrandom)]
    for case in cases:
        patterns = [p for p in DELIBERATE if fnmatch.fnmatchcase(case.name, p)]
        if patterns:
            case.deliberate = DELIBERATE[max(patterns, key=len)]
    return cases


class Tally:
    """What the comparisons of the bundled build with the other side (the
    real libxo, or its recordings) came to."""

    def __init__(self, a, known, other):
        self.a, self.known, self.other = a, known, other
        self.same = self.deliberate = self.shown = 0
        self.failed, self.errors = [], []

    def add(self, case, error, diffs):
        if error:
            self.errors.append(error)
        elif case.deliberate:
            if case.deliberate not in self.known:
                self.errors.append('%s: deliberate difference "%s" is not described under '
                                   '"## Deliberate differences" in %s'
                                   % (case.name, case.deliberate, self.a.readme))
            elif not diffs:
                self.errors.append('%s: marked deliberate "%s", but the %s libxo writes the same: '
                                   'remove the mark' % (case.name, case.deliberate, self.other))
            else:
                self.deliberate += 1
                print('deliberate: %s: %s' % (case.deliberate, case.name))
        elif not diffs:
            self.same += 1
        else:
            self.failed.append(case.name)
            if self.shown < self.a.show:
                self.shown += 1
                print(describe(case, diffs).replace('+ real)', '+ %s)' % self.other))


    def print_errors_and_rest(self):
        """The errors, and the differing cases not described."""
        for e in self.errors:
            print('ERROR: ' + e)
        if len(self.failed) > self.shown:
            print('... and %d more differing cases:' % (len(self.failed) - self.shown))
            for name in self.failed[self.shown:]:
                print('    ' + name)


def run_all(a, compare, cases):
    """compare(index, case, folder) for each case, a few at a time: the
    cases with their results, in order."""
    jobs = max(1, int(os.environ.get('XODIFF_JOBS', a.jobs)))
    with tempfile.TemporaryDirectory(prefix='xodiff.') as tmp:
        with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
            results = pool.map(lambda ic: compare(ic[0], ic[1], tmp), enumerate(cases))
            yield from zip(cases, results)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--bundled')
    ap.add_argument('--real')
    ap.add_argument('--readme')
    ap.add_argument('--random', type=int, default=150)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--only', default='', help='run the cases whose name contains this')
    ap.add_argument('--show', type=int, default=25, help='describe at most this many differences')
    ap.add_argument('--list', action='store_true', help='list the cases and stop')
    ap.add_argument('--ignore', default='', help='comma-separated channels not to compare '
                    '(stdout, stderr, status, returns, merged): for looking into one at a time')
    ap.add_argument('--jobs', type=int, default=2, help='cases run at the same time')
    ap.add_argument('--recorded', metavar='CORPUS', help="the real libxo's recordings, in place of --real")
    ap.add_argument('--stale', metavar='FILE', help='the cases whose recordings are stale, with reasons')
    ap.add_argument('--skip', metavar='MESSAGE')
    a = ap.parse_args()
    if a.skip:
        print('xodiff: SKIPPED: ' + a.skip)
        return SKIP
    if not (a.bundled and (a.real or a.recorded) and a.readme):
        ap.error('--bundled, --real or --recorded, and --readme are needed')
    nrandom = int(os.environ.get('XODIFF_RANDOM', a.random))
    seed = int(os.environ.get('XODIFF_SEED', a.seed))
    cases = [c for c in all_cases(nrandom, seed) if a.only in c.name]
    if a.list:
        for c in cases:
            print(c.name)
        return 0
    known = deliberate_ids(a.readme)
    ignore = set(a.ignore.split(','))
    if a.recorded:
        return replay(a, cases, known, ignore, seed)

    def compare(index, case, tmp):
        """Runs one case under both builds: (error, differences)."""
        work = os.path.join(tmp, str(index))
        os.mkdir(work)
        b = run_one(a.bundled, case, work, False)
        r = run_one(a.real, case, work, False)
        if b'xodiff driver: ' in b['stderr'] + r['stderr']:
            msg = (b['stderr'] + r['stderr']).decode('utf-8', 'replace').strip().split('\n')[-1]
            return '%s: the script is wrong: %s' % (case.name, msg), []
        diffs = [(ch, b[ch], r[ch]) for ch in ('stdout', 'stderr', 'status', 'returns')
                 if b[ch] != r[ch] and ch not in ignore]
        if 'merged' not in ignore and ((b['stdout'] and b['stderr']) or (r['stdout'] and r['stderr'])):
            bm = run_one(a.bundled, case, work, True)
            rm = run_one(a.real, case, work, True)
            if bm['stdout'] != rm['stdout'] and not diffs:
                diffs.append(('stdout+stderr on one pipe', bm['stdout'], rm['stdout']))
        return None, diffs

    tally = Tally(a, known, 'real')
    for case, (error, diffs) in run_all(a, compare, cases):
        tally.add(case, error, diffs)
    same, deliberate, failed, errors = (tally.same, tally.deliberate, tally.failed,
                                        tally.errors)
    if not a.only:
        for unused in sorted(known - {c.deliberate for c in cases}):
            print('note: deliberate difference "%s" has no case here; its test is elsewhere' % unused)
    tally.print_errors_and_rest()
    print('xodiff: %d cases compared (%d random, seed %d): %d same, %d deliberate, %d differ, %d errors'
          % (len(cases), sum(c.name.startswith('random/') for c in cases), seed, same, deliberate,
             len(failed), len(errors)))
    return 1 if failed or errors else 0


def replay(a, cases, known, ignore, seed):
    """Compares the bundled build with the recordings of the real libxo."""
    try:
        recordings = load_recordings(a.recorded)
    except (OSError, ValueError, KeyError) as e:
        print('xodiff: cannot read the recordings %s: %s' % (a.recorded, e))
        return 1
    stale = load_stale(a.stale)

    def stale_reason(case):
        for pattern, reason in stale:
            if fnmatch.fnmatchcase(case.name, pattern):
                return reason
        return None

    def compare(index, case, tmp):
        """Runs one case: (error, differences, has a recording)."""
        recorded = recordings.get(case_key(case, False))
        if recorded is None:
            return None, [], False
        work = os.path.join(tmp, str(index))
        os.mkdir(work)
        b = run_one(a.bundled, case, work, False)
        if b'xodiff driver: ' in b['stderr']:
            msg = b['stderr'].decode('utf-8', 'replace').strip().split('\n')[-1]
            return '%s: the script is wrong: %s' % (case.name, msg), [], True
        diffs = [(ch, b[ch], recorded[ch]) for ch in ('stdout', 'stderr', 'status', 'returns')
                 if b[ch] != recorded[ch] and ch not in ignore]
        merged = recordings.get(case_key(case, True))
        if 'merged' not in ignore and (merged is not None or (b['stdout'] and b['stderr'])):
            if merged is None:
                if not diffs:
                    return None, [], False  # the run on one pipe was never recorded
            else:
                bm = run_one(a.bundled, case, work, True)
                if bm['stdout'] != merged['stdout'] and not diffs:
                    diffs.append(('stdout+stderr on one pipe', bm['stdout'], merged['stdout']))
        return None, diffs, True

    todo = []
    stale_cases = []
    for case in cases:
        reason = stale_reason(case)
        if reason:
            stale_cases.append((case, reason))
        else:
            todo.append(case)
    tally = Tally(a, known, 'recorded')
    unrecorded = []
    for case, (error, diffs, found) in run_all(a, compare, todo):
        if found or error:
            tally.add(case, error, diffs)
        else:
            unrecorded.append(case.name)
    same, deliberate, failed, errors = (tally.same, tally.deliberate, tally.failed,
                                        tally.errors)
    print('xodiff: recordings %s, %d cases generated (%d random, seed %d)'
          % (a.recorded, len(cases), sum(c.name.startswith('random/') for c in cases), seed))
    for case, reason in stale_cases:
        print('stale recording, not compared: %s: %s' % (case.name, reason))
    tally.print_errors_and_rest()
    if unrecorded:
        print('no recording for %d cases (to be recorded; not passed): %s%s'
              % (len(unrecorded), ', '.join(unrecorded[:5]), ', ...' if len(unrecorded) > 5 else ''))
    if stale_cases:
        print('%d cases with stale recordings were not compared' % len(stale_cases))
    compared = same + deliberate + len(failed)
    print('xodiff: %d recorded cases compared with the real libxo 1.7.5: %d same, %d deliberate, '
          '%d differ, %d with no recording' % (compared, same, deliberate, len(failed), len(unrecorded)))
    return 1 if failed or errors or compared == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
