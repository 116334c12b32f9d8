#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""libxo's own regression suite (tests/core) against the bundled layer.

Runs each test program once per style as libxo's Makefile does
(--libxo:W<fmt>, the encoder, CSV and map-file variants), with standard
output and standard error compared byte for byte with the suite's saved/
files.  Each case ends up in one of three counts:

  identical    both outputs are the saved ones;
  unsupported  the case uses a feature that the layer does not have: the
               case is listed in UNSUPPORTED below with the feature's id,
               the id is described in xo/README.md under "## Unsupported
               features", and the layer said so on standard error;
  other        anything else.

The test fails on a crash (a signal or a sanitizer report), on any case
counted as "other", on a listed case that is now identical (the list must
stay exact), and when fewer than MIN_IDENTICAL cases are identical (what
the layer reached: a case that stops being identical is a regression).

One expected text differs from saved/: test_01 formats a null pointer
with %p, which the BSD libc behind the saved files writes as 0x0 and
glibc (under libxo and under the layer alike) as (nil).

    core_suite.py --suite DIR --programs DIR --readme xo/README.md [--show N]
    core_suite.py --skip MESSAGE
"""

import argparse
import difflib
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77
MIN_IDENTICAL = 110

STYLES = ['T', 'XP', 'JP', 'JPu', 'HP', 'X', 'J', 'H', 'HIPx']
PROGRAMS = ['test_%02d' % n for n in range(1, 14)]

# Feature id -> what the layer writes on standard error when a case
# meets it.
MARKERS = {
    'encoder-plugins': r'error initializing encoder: ',
    'syslog': r'xo_(open_log|close_log|set_logmask|set_unit_test_mode|syslog|vsyslog|'
              r'set_syslog_handler|set_syslog_enterprise_id) is not supported',
}

# (program, fmt) -> feature id; '*' as fmt stands for every fmt.
UNSUPPORTED = {}
for _p in PROGRAMS:
    UNSUPPORTED[(_p, 'E')] = 'encoder-plugins'
for _f in ('Ecsv1', 'Ecsv2', 'Ecsv3'):
    UNSUPPORTED[('test_01', _f)] = 'encoder-plugins'
UNSUPPORTED[('test_11', '*')] = 'syslog'


def cases(suite):
    out = []
    for prog in PROGRAMS:
        for fmt in STYLES:
            out.append((prog, fmt, ['--libxo:W' + fmt]))
        out.append((prog, 'E', ['--libxo=warn,encoder=test']))
    for fmt, extra in (('Ecsv1', 'encoder=csv'),
                       ('Ecsv2', 'encoder=csv:path=top-level/data/item:no-header'),
                       ('Ecsv3', '@csv:path=item:leafs=sku.sold:no-quotes')):
        out.append(('test_01', fmt, ['--libxo=warn,' + extra]))
    for fmt, style in (('XPmap', 'xml'), ('JPmap', 'json')):
        out.append(('test_12', fmt,
                    ['--libxo=warn,%s,pretty,map-file=%s' % (style, os.path.join(suite, 'test_12.map'))]))
    return out


def glibc_null_pointer(text):
    """test_01's saved files as glibc's %p of a null pointer makes them."""
    # An anchor pads "0x0..1" to 18 columns: two blanks fewer for "(nil)".
    text = re.sub(r'(<div class="padding"> *)  (</div><div [^>]*>)0x0\b', r'\1\2(nil)', text)
    text = re.sub(r'(\n *<div class="padding"> *)  (</div>\n *<div [^>]*>)0x0\b', r'\1\2(nil)', text)
    text = re.sub(r'  0x0\.\.', r'(nil)..', text)
    return re.sub(r'\b0x0\b', '(nil)', text)


def expected(suite, prog, fmt, channel):
    path = os.path.join(suite, 'saved', '%s.%s.%s' % (prog, fmt, channel))
    try:
        with open(path, encoding='utf-8', errors='surrogateescape') as f:
            text = f.read()
    except FileNotFoundError:
        text = ''
    if prog == 'test_01':
        text = glibc_null_pointer(text)
    return text


def unsupported_ids(readme):
    with open(readme, encoding='utf-8') as f:
        text = f.read()
    m = re.search(r'^## Unsupported features\s*$(.*?)(?=^## |\Z)', text, re.M | re.S)
    if not m:
        return set()
    return set(re.findall(r'^### ([a-z0-9]+(?:-[a-z0-9]+)*)\s*$', m.group(1), re.M))


def run_case(programs, prog, args, workdir):
    exe = os.path.join(os.path.abspath(programs), prog + '.test')
    if not os.access(exe, os.X_OK):
        return None, '', 'no program %s' % exe
    try:
        p = subprocess.run([exe] + args, cwd=workdir, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
    except subprocess.TimeoutExpired:
        return None, '', 'timed out'
    except OSError as e:
        return None, '', str(e)
    dec = lambda b: b.decode('utf-8', errors='surrogateescape')
    return p.returncode, dec(p.stdout), dec(p.stderr)


def short_diff(want, got, label, limit):
    d = list(difflib.unified_diff(want.splitlines(), got.splitlines(), 'saved ' + label,
                                  'layer ' + label, lineterm='', n=0))
    clip = lambda s: s if len(s) <= 160 else s[:157] + '...'
    return ['      ' + clip(line) for line in d[:limit]]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--suite')
    ap.add_argument('--programs')
    ap.add_argument('--readme')
    ap.add_argument('--show', type=int, default=12, help='diff lines shown per failing case')
    ap.add_argument('--skip')
    a = ap.parse_args()
    if a.skip:
        print('SKIPPED: ' + a.skip)
        return SKIP
    if not (a.suite and a.programs and a.readme):
        ap.error('--suite, --programs and --readme are needed')

    known = unsupported_ids(a.readme)
    problems = []
    for key, fid in sorted(UNSUPPORTED.items()):
        if fid not in known or fid not in MARKERS:
            problems.append('%s.%s: feature %r is not under "## Unsupported features" in %s'
                            ' or has no marker' % (key[0], key[1], fid, a.readme))
    counts = {'identical': 0, 'unsupported': 0, 'other': 0}
    with tempfile.TemporaryDirectory() as workdir:
        for prog, fmt, args in cases(a.suite):
            rc, out, err = run_case(a.programs, prog, args, workdir)
            name = '%s.%s' % (prog, fmt)
            if rc is None or rc < 0 or 'Sanitizer' in err or 'runtime error:' in err:
                problems.append('%s: crashed (status %s)\n      %s' % (name, rc, err[-400:]))
                counts['other'] += 1
                continue
            want_out = expected(a.suite, prog, fmt, 'out')
            want_err = expected(a.suite, prog, fmt, 'err')
            fid = UNSUPPORTED.get((prog, fmt)) or UNSUPPORTED.get((prog, '*'))
            if out == want_out and err == want_err:
                counts['identical'] += 1
                if fid:
                    problems.append('%s: identical, but listed as unsupported (%s)' % (name, fid))
                continue
            if fid and fid in MARKERS and re.search(MARKERS[fid], err, re.S):
                counts['unsupported'] += 1
                print('unsupported %s (%s)' % (name, fid))
                continue
            counts['other'] += 1
            lines = ['%s: differs from saved/ (%s)' % (name, ' '.join(args))]
            if out != want_out:
                lines += short_diff(want_out, out, 'stdout', a.show)
            if err != want_err:
                lines += short_diff(want_err, err, 'stderr', a.show)
            problems.append('\n'.join(lines))
    total = sum(counts.values())
    for p in problems:
        print('FAIL ' + p)
    print('libxo tests/core: %d cases: %d identical, %d unsupported (listed), %d other'
          % (total, counts['identical'], counts['unsupported'], counts['other']))
    if counts['identical'] < MIN_IDENTICAL:
        print('FAIL fewer than %d identical cases' % MIN_IDENTICAL)
        return 1
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
