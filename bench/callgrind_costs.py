#!/usr/bin/env python3
"""Instruction counts per operation from callgrind output files.

Each run is one or more callgrind.out files (a forked peer writes its own;
they are added up). Two runs of the same program at n1 and n2 operations give
the slope (run2 - run1) / (n2 - n1), so start-up cancels out.

  callgrind_costs.py slope N1 FILES1 -- N2 FILES2 [--objects] [--functions F,G]
                     [--lib NAME] [--callers-of F,G] [--top K] [--json]

Printed per operation: the total of all objects (user-space instructions), the
self cost of each object, the inclusive cost of the functions named, and with
--callers-of the call counts into those functions by caller (two levels up).
"""
import json
import re
import sys
from collections import defaultdict

NAME_RE = re.compile(r'^\((\d+)\)(?: (.*))?$')


class Profile:
    def __init__(self):
        self.total = 0
        self.by_object = defaultdict(int)      # self cost per object
        self.self_cost = defaultdict(int)      # per function name
        self.call_cost = defaultdict(int)      # cost of calls made by a function
        self.calls = defaultdict(int)          # (caller, callee) -> count
        self.callee_calls = defaultdict(int)   # callee -> count

    def add(self, other):
        self.total += other.total
        for d, o in ((self.by_object, other.by_object), (self.self_cost, other.self_cost),
                     (self.call_cost, other.call_cost), (self.calls, other.calls),
                     (self.callee_calls, other.callee_calls)):
            for k, v in o.items():
                d[k] += v

    def inclusive(self, fn):
        return self.self_cost.get(fn, 0) + self.call_cost.get(fn, 0)


def short_object(path):
    base = path.rsplit('/', 1)[-1]
    return base


def parse(path):
    prof = Profile()
    names = {'ob': {}, 'fl': {}, 'fn': {}}
    kind_of = {'ob': 'ob', 'cob': 'ob', 'fl': 'fl', 'fi': 'fl', 'fe': 'fl', 'cfi': 'fl', 'cfl': 'fl',
               'fn': 'fn', 'cfn': 'fn'}

    def resolve(key, value):
        space = names[kind_of[key]]
        m = NAME_RE.match(value)
        if not m:
            return value
        if m.group(2) is not None:
            space[m.group(1)] = m.group(2)
            return m.group(2)
        return space.get(m.group(1), value)

    ob = fn = None
    cob = cfn = None
    pending_call = None
    with open(path, errors='replace') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line:
                continue
            c = line[0]
            if c.isdigit() or c in '+-*':
                parts = line.split()
                cost = int(parts[1]) if len(parts) > 1 else 0
                if pending_call is not None:
                    count, callee, callee_ob = pending_call
                    prof.call_cost[fn] += cost
                    prof.calls[(fn, callee)] += count
                    prof.callee_calls[callee] += count
                    pending_call = None
                    cob = cfn = None
                else:
                    prof.self_cost[fn] += cost
                    prof.by_object[ob] += cost
                    prof.total += cost
                continue
            if '=' not in line:
                continue
            key, value = line.split('=', 1)
            if key == 'ob':
                ob = short_object(resolve(key, value))
            elif key == 'fn':
                fn = resolve(key, value)
            elif key in ('fl', 'fi', 'fe', 'cfi', 'cfl'):
                resolve(key, value)
            elif key == 'cob':
                cob = short_object(resolve(key, value))
            elif key == 'cfn':
                cfn = resolve(key, value)
            elif key == 'calls':
                count = int(value.split()[0])
                pending_call = (count, cfn, cob or ob)
    return prof


def load(files):
    prof = Profile()
    for f in files:
        prof.add(parse(f))
    return prof


def per_op(d2, d1, dn):
    keys = set(d2) | set(d1)
    return {k: (d2.get(k, 0) - d1.get(k, 0)) / dn for k in keys}


def match(name, wanted):
    """A function name matches when it is the wanted name or starts with it and '('."""
    return name == wanted or name.startswith(wanted + '(') or name.startswith(wanted + "'")


def main(argv):
    if len(argv) < 2 or argv[0] != 'slope' or '--' not in argv:
        print(__doc__, file=sys.stderr)
        return 2
    argv = argv[1:]
    sep = argv.index('--')
    first, rest = argv[:sep], argv[sep + 1:]
    n1, files1 = int(first[0]), first[1:]
    n2 = int(rest[0])
    files2, opts = [], []
    for i, a in enumerate(rest[1:]):
        if a.startswith('--'):
            opts = rest[1 + i:]
            break
        files2.append(a)
    show_objects = '--objects' in opts
    as_json = '--json' in opts
    functions = []
    callers_of = []
    lib = None
    for i, o in enumerate(opts):
        if o == '--functions':
            functions = [x for x in opts[i + 1].split(',') if x]
        if o == '--callers-of':
            callers_of = [x for x in opts[i + 1].split(',') if x]
        if o == '--lib':
            lib = opts[i + 1]

    p1, p2 = load(files1), load(files2)
    dn = float(n2 - n1)
    out = {'total': (p2.total - p1.total) / dn}
    objects = per_op(p2.by_object, p1.by_object, dn)
    out['objects'] = {k: v for k, v in sorted(objects.items(), key=lambda kv: -kv[1]) if abs(v) >= 0.05}
    if lib:
        out['lib'] = sum(v for k, v in objects.items() if k and lib in k)
    top = 0
    for i, o in enumerate(opts):
        if o == '--top':
            top = int(opts[i + 1])
    if top:
        selfs = per_op(p2.self_cost, p1.self_cost, dn)
        incl = {}
        for k in selfs:
            incl[k] = (p2.inclusive(k) - p1.inclusive(k)) / dn
        out['top_self'] = [(k, v, incl[k]) for k, v in sorted(selfs.items(), key=lambda kv: -kv[1])[:top]]
    out['functions'] = {}
    for want in functions:
        names = set(n for n in list(p1.self_cost) + list(p2.self_cost) if n and match(n, want))
        v = sum((p2.inclusive(n) - p1.inclusive(n)) / dn for n in names)
        out['functions'][want] = v
    if callers_of:
        calls = per_op(p2.calls, p1.calls, dn)
        tree = {}
        for want in callers_of:
            callee_names = set(k[1] for k in calls if k[1] and match(k[1], want))
            level1 = defaultdict(float)
            for (caller, callee), v in calls.items():
                if callee in callee_names and v >= 0.001:
                    level1[caller] += v
            entry = {}
            for caller, v in sorted(level1.items(), key=lambda kv: -kv[1]):
                up = defaultdict(float)
                for (c2, callee), v2 in calls.items():
                    if callee == caller and v2 >= 0.001:
                        up[c2] += v2
                entry[caller] = {'calls': v, 'called_by': dict(sorted(up.items(), key=lambda kv: -kv[1]))}
            tree[want] = entry
        out['callers'] = tree

    if as_json:
        json.dump(out, sys.stdout, indent=1)
        print()
        return 0
    print('total_per_op %.1f' % out['total'])
    if lib:
        print('lib_per_op %.1f %s' % (out['lib'], lib))
    for k, v in out['functions'].items():
        print('inclusive_per_op %.1f %s' % (v, k))
    for k, v, inc in out.get('top_self', []):
        print('self_per_op %8.1f  inclusive %8.1f  %s' % (v, inc, k))
    if show_objects:
        for k, v in out['objects'].items():
            print('object_per_op %.1f %s' % (v, k))
    for want, entry in out.get('callers', {}).items():
        print('calls into %s per op:' % want)
        for caller, e in entry.items():
            print('  %6.3f  %s' % (e['calls'], caller))
            for c2, v2 in list(e['called_by'].items())[:4]:
                print('           %6.3f  <- %s' % (v2, c2))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
