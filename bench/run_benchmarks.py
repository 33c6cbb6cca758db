#!/usr/bin/env python3
"""Runs every benchmark of bench/ and prints a summary table.

  run_benchmarks.py --build DIR [--out DIR] [--smoke] [--skip NAME,...]

DIR is a build folder configured with -DMAROVIN_BUILD_BENCH=ON. Parts (names
for --skip; a skipped part keeps the figures of the last run): counts (callgrind instruction counts), heap, memory, gbench
(Google Benchmark timings), pty (exchanges per second over pseudo-terminals),
host (marovin-host with marovin-sim, counted and timed).

--smoke runs every part briefly to prove that it works (no figure is
meaningful then) and ends with the line 'N passed, N failed'.
"""
import argparse
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import callgrind_costs  # noqa: E402

RESULTS = {}
CHECKS = []  # (name, ok, detail)


def note(text):
    print('==> ' + text, flush=True)


def check(name, ok, detail=''):
    CHECKS.append((name, ok, detail))
    if not ok:
        print('FAILED: %s %s' % (name, detail), flush=True)
    return ok


def run(cmd, timeout=1800, cwd=None):
    """Runs a command; returns (returncode, stdout, stderr)."""
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout, p.stderr
    except subprocess.TimeoutExpired:
        return -1, '', 'timed out after %ds' % timeout


class Tree:
    def __init__(self, build, out):
        self.build = os.path.abspath(build)
        self.bench = os.path.join(self.build, 'bench')
        self.out = os.path.abspath(out)
        self.host = os.path.join(self.build, 'tools', 'marovin-host', 'marovin-host')
        self.sim = os.path.join(self.build, 'tools', 'marovin-sim', 'marovin-sim')
        self.lib = os.path.join(self.build, 'lib', 'libMarovin.so.1')

    def exe(self, name):
        return os.path.join(self.bench, name)


# ---------------------------------------------------------------- callgrind

def callgrind(tree, tag, cmd, cwd_files=True):
    """Runs cmd under callgrind; returns the list of output files (one per process)."""
    d = tempfile.mkdtemp(prefix='cg-%s-' % tag, dir=tree.out)
    vg = ['valgrind', '--tool=callgrind', '--trace-children=no',
          '--callgrind-out-file=' + os.path.join(d, 'callgrind.out.%p')]
    rc, so, se = run(vg + cmd, cwd=d)
    files = [os.path.join(d, f) for f in os.listdir(d) if f.startswith('callgrind.out.')]
    if rc != 0 or not files:
        check('callgrind ' + tag, False, (se or so)[-2000:])
        return None
    return files


def slope(files1, n1, files2, n2, functions=(), lib=None, callers=()):
    argv = ['slope', str(n1)] + files1 + ['--', str(n2)] + files2 + ['--json']
    if functions:
        argv += ['--functions', ','.join(functions)]
    if lib:
        argv += ['--lib', lib]
    if callers:
        argv += ['--callers-of', ','.join(callers)]
    argv += ['--top', '40']
    import io
    from contextlib import redirect_stdout
    buf = io.StringIO()
    with redirect_stdout(buf):
        callgrind_costs.main(argv)
    return json.loads(buf.getvalue())


def count_program(tree, mode, size, n1, n2, functions, callers=()):
    runs = []
    for n in (n1, n2):
        files = callgrind(tree, '%s-%d-%d' % (mode, size, n),
                          ['--collect-atstart=no', tree.exe('marovin-bench-count'), mode, str(size), str(n)])
        if files is None:
            return None
        runs.append(files)
    return slope(runs[0], n1, runs[1], n2, functions, 'libMarovin', callers)


def counts(tree, smoke):
    note('instruction counts (callgrind, slope between two operation counts)')
    n1, n2 = (20, 40) if smoke else (1000, 2000)
    sizes = (10,) if smoke else (10, 100000)
    res = {}
    exch = ('ComCommunication', 'DataCom')
    for size in sizes:
        r = count_program(tree, 'exchange', size, n1, n2, exch, callers=('malloc', 'free') if size == 10 else ())
        if r:
            res['exchange.%d' % size] = {
                'driver': sum(r['functions'].values()), 'lib': r['lib'], 'total': r['total'],
                'ComCommunication': r['functions']['ComCommunication'], 'DataCom': r['functions']['DataCom'],
                'top': r['top_self'][:25], 'callers': r.get('callers', {})}
        r = count_program(tree, 'get', size, n1, n2, ('GetRegisterData', 'StringAddressToInt', 'ExtendFindSameVar'))
        if r:
            f = r['functions']
            res['get.%d' % size] = {'call': f['GetRegisterData'], 'parse': f['StringAddressToInt'],
                                    'lookup': f['ExtendFindSameVar'], 'lib': r['lib']}
        r = count_program(tree, 'set', size, n1, n2, ('SetRegisterData', 'StringAddressToInt', 'ExtendFindSameVar'))
        if r:
            f = r['functions']
            res['set.%d' % size] = {'call': f['SetRegisterData'], 'parse': f['StringAddressToInt'],
                                    'lookup': f['ExtendFindSameVar'], 'lib': r['lib']}
        r = count_program(tree, 'write', size, n1, n2, ('SetRegisterData',) + exch)
        if r:
            res['write.%d' % size] = {'call': sum(r['functions'].values()), 'lib': r['lib']}
    for size in ((100,) if smoke else (1000, 10000, 100000)):
        r = count_program(tree, 'rebuild', size, 1, 2, ('ReCreatReadVarList',))
        if r:
            res['rebuild.%d' % size] = {'call': r['functions']['ReCreatReadVarList'],
                                        'per_var': r['functions']['ReCreatReadVarList'] / size}

    # Peers over a pseudo-terminal: only the client process collects.
    m1, m2 = (20, 40) if smoke else (500, 1000)
    for kind, functions, lib in (('modbus', ('modbus_read_registers',), 'libmodbus'),
                                 ('harness', exch, 'libMarovin'),
                                 ('echo', (), None)):
        runs = []
        for n in (m1, m2):
            files = callgrind(tree, '%s-%d' % (kind, n),
                              ['--collect-atstart=no', tree.exe('marovin-bench-pty'), '--client', kind, str(n)])
            if files is None:
                break
            runs.append(files)
        if len(runs) == 2:
            r = slope(runs[0], m1, runs[1], m2, functions, lib)
            res['pty.' + kind] = {'total': r['total'], 'lib': r.get('lib', 0.0),
                                  'entry': sum(r['functions'].values()), 'objects': r['objects']}
    RESULTS['counts'] = res
    check('counts', all(k in res for k in ('exchange.10', 'get.10', 'pty.modbus', 'pty.harness')))


# ---------------------------------------------------------------- heap and memory

def heap(tree, smoke):
    note('heap calls per operation (malloc interposer)')
    res = {}
    n = 200 if smoke else 20000
    size = 10 if smoke else 1000
    for mode in ('exchange', 'get', 'set', 'write', 'rebuild'):
        m = n if mode != 'rebuild' else 3
        rc, so, se = run([tree.exe('marovin-bench-heap'), mode, str(size), str(m)])
        hit = re.search(r'allocations=([\d.]+) reallocations=([\d.]+) frees=([\d.]+) bytes=([\d.]+)', so)
        if not check('heap ' + mode, rc == 0 and hit is not None, se[-500:]):
            continue
        a, r, f, b = (float(x) for x in hit.groups())
        per = size if mode == 'rebuild' else 1
        res[mode] = {'allocations': a / per, 'reallocations': r / per, 'frees': f / per, 'bytes': b / per}
    RESULTS['heap'] = res


def memory(tree, smoke):
    note('heap bytes per cached value (mallinfo2)')
    size = 1000 if smoke else 100000
    rc, so, se = run([tree.exe('marovin-bench-count'), 'memory', str(size)])
    hit = re.search(r'bytes_per_value=([\d.]+) .*bytes_per_entry=([\d.]+)', so)
    if check('memory', rc == 0 and hit is not None, se[-500:]):
        RESULTS['memory'] = {'size': size, 'per_value': float(hit.group(1)), 'per_read_entry': float(hit.group(2))}


# ---------------------------------------------------------------- Google Benchmark

def gbench(tree, smoke):
    note('Google Benchmark timings')
    path = os.path.join(tree.out, 'gbench.json')
    cmd = [tree.exe('marovin-bench'), '--benchmark_out=' + path, '--benchmark_out_format=json']
    cmd += ['--benchmark_min_time=0.001'] if smoke else ['--benchmark_repetitions=3',
                                                         '--benchmark_report_aggregates_only=true']
    rc, so, se = run(cmd, timeout=3600)
    with open(os.path.join(tree.out, 'gbench.txt'), 'w') as f:
        f.write(so + se)
    if not check('gbench', rc == 0 and os.path.exists(path), se[-1000:]):
        return
    data = json.load(open(path))
    res = {}
    for b in data['benchmarks']:
        name = b.get('run_name', b['name'])
        if b['name'].endswith('_BigO'):
            res[b['name']] = {'complexity': b.get('complexity') or b.get('big_o')}
            continue
        if b.get('run_type') == 'aggregate' and b.get('aggregate_name') != 'median':
            continue
        if 'cpu_time' not in b:
            continue
        # CPU time: on a shared machine wall time also counts waiting for a CPU.
        unit = {'ns': 1.0, 'us': 1e3, 'ms': 1e6, 's': 1e9}[b.get('time_unit', 'ns')]
        res[name] = {'ns': b['cpu_time'] * unit, 'wall_ns': b['real_time'] * unit,
                     'items_per_second': b.get('items_per_second')}
    RESULTS['gbench'] = res


# ---------------------------------------------------------------- pty and host

def host_command(tree, cycles_placeholder='{N}', values=1):
    """marovin-host reading `values` cyclic 16-bit values (one variable each)."""
    var = '1:w16:10' if values == 1 else '1:w16:10:%d' % values
    return ('%s --lib %s --sim %s -q -v %s --cycles %s' %
            (shlex.quote(tree.host), shlex.quote(tree.lib), shlex.quote(tree.sim), var, cycles_placeholder))


def host_available(tree):
    return os.access(tree.host, os.X_OK) and os.access(tree.sim, os.X_OK)


def pty_once(tree, smoke, cpu):
    cmd = [tree.exe('marovin-bench-pty')]
    cmd += ['--exchanges', '200', '--rounds', '1'] if smoke else ['--exchanges', '10000', '--rounds', '7']
    if cpu is not None:
        cmd += ['--cpu', str(cpu)]
    if host_available(tree):
        cmd += ['--host-cmd', host_command(tree)]
    rc, so, se = run(cmd, timeout=3600)
    res = {}
    for line in so.splitlines():
        m = re.match(r'pty (\S+)\s+([\d.]+) /s.*\(rounds ([\d.]+)\.\.([\d.]+)\)', line)
        if m:
            res[m.group(1)] = float(m.group(2))
            res[m.group(1) + '.range'] = [float(m.group(3)), float(m.group(4))]
    tag = 'cpu%s' % cpu if cpu is not None else 'any cpu'
    check('pty (%s)' % tag, rc == 0 and 'modbus' in res and 'harness' in res and 'echo' in res, (se or so)[-1000:])
    if host_available(tree):
        check('pty host (%s)' % tag, 'host' in res, 'marovin-host run failed: see pty.txt')
    return so + se, res


def pty(tree, smoke):
    """Peers pinned to one CPU (steady: no cross-CPU wake-ups), then free."""
    note('exchanges per second over pseudo-terminals (side by side)')
    text, pinned = pty_once(tree, smoke, 0)
    text2, free = pty_once(tree, smoke, None)
    with open(os.path.join(tree.out, 'pty.txt'), 'w') as f:
        f.write(text + '\n' + text2)
    RESULTS['pty'] = pinned
    RESULTS['pty_any_cpu'] = free


def host_exchanges(output):
    m = re.search(r'^exchanges:\s+(\d+)', output, re.M)
    return int(m.group(1)) if m else None


def host_counts(tree, smoke):
    """marovin-host's whole loop under callgrind (the simulator runs natively),
    with one value and with ten."""
    if not host_available(tree):
        note('marovin-host or marovin-sim not built: host counts skipped')
        RESULTS['host'] = RESULTS['host10'] = None
        return
    note('marovin-host instruction counts (callgrind, slope between two runs)')
    for key, values, cycles in (('host', 1, (5, 10) if smoke else (250, 500)),
                                ('host10', 10, (1, 2) if smoke else (50, 100))):
        RESULTS[key] = None
        runs = []
        for c in cycles:
            cmd = shlex.split(host_command(tree, str(c), values))
            d = tempfile.mkdtemp(prefix='cg-%s-%d-' % (key, c), dir=tree.out)
            vg = ['valgrind', '--tool=callgrind', '--trace-children=no',
                  '--callgrind-out-file=' + os.path.join(d, 'callgrind.out.%p')]
            rc, so, se = run(vg + cmd, cwd=d)
            ex = host_exchanges(so)
            files = [os.path.join(d, f) for f in os.listdir(d) if f.startswith('callgrind.out.')]
            if not check('%s callgrind %d' % (key, c), rc == 0 and ex and files, (se or so)[-1500:]):
                runs = None
                break
            runs.append((files, ex))
        if not runs:
            continue
        (f1, e1), (f2, e2) = runs
        r = slope(f1, e1, f2, e2, ('ComCommunication', 'DataCom'), 'libMarovin')
        RESULTS[key] = {'total': r['total'], 'lib': r['lib'], 'driver': sum(r['functions'].values()),
                        'objects': r['objects'], 'exchanges': [e1, e2], 'top': r['top_self'][:25]}


# ---------------------------------------------------------------- summary

def fmt(v, digits=0):
    if v is None:
        return 'n/a'
    return ('{:,.%df}' % digits).format(v)


def ratio(a, b, digits=2):
    if a is None or b in (None, 0):
        return 'n/a'
    return ('%.' + str(digits) + 'f') % (a / b)


def goal(ok):
    return 'n/a' if ok is None else ('met' if ok else 'NOT met')


def summary(smoke):
    c = RESULTS.get('counts', {})
    heap_ = RESULTS.get('heap', {})
    mem = RESULTS.get('memory', {})
    gb = RESULTS.get('gbench', {})
    pt = RESULTS.get('pty', {})
    host = RESULTS.get('host')
    lines = []
    add = lines.append

    mb = c.get('pty.modbus', {})
    mb_lib, mb_total = mb.get('lib'), mb.get('total')
    ex10, ex100k = c.get('exchange.10', {}), c.get('exchange.100000', {})
    add('Instruction counts per operation (callgrind, user space, slope of two runs)')
    add('%-58s %12s %12s' % ('operation', 'instr/op', 'vs libmodbus'))
    add('%-58s %12s %12s' % ('libmodbus RTU read of 1 register: whole client', fmt(mb_total), '1.00'))
    add('%-58s %12s %12s' % ('libmodbus RTU read of 1 register: inside libmodbus', fmt(mb_lib), '1.00'))
    add('%-58s %12s %12s' % ('exchange, 10 values: ComCommunication + DataCom (all code)',
                             fmt(ex10.get('driver')), ratio(ex10.get('driver'), mb_lib)))
    add('%-58s %12s %12s' % ('exchange, 10 values: inside libMarovin only', fmt(ex10.get('lib')),
                             ratio(ex10.get('lib'), mb_lib)))
    if ex100k:
        add('%-58s %12s %12s' % ('exchange, 100,000 values (all code)', fmt(ex100k.get('driver')),
                                 ratio(ex100k.get('driver'), mb_lib)))
    h = c.get('pty.harness', {})
    add('%-58s %12s %12s' % ('driver loop over tools/port (pty): whole client', fmt(h.get('total')),
                             ratio(h.get('total'), mb_total)))
    if host:
        add('%-58s %12s %12s' % ('marovin-host loop with I/O, 1 value: whole process', fmt(host['total']),
                                 ratio(host['total'], mb_total)))
    host10 = RESULTS.get('host10')
    if host10:
        add('%-58s %12s %12s' % ('marovin-host loop with I/O, 10 values: whole process', fmt(host10['total']),
                                 ratio(host10['total'], mb_total)))
    e = c.get('pty.echo', {})
    add('%-58s %12s %12s' % ('raw echo over pty: whole client (floor)', fmt(e.get('total')),
                             ratio(e.get('total'), mb_total)))
    add('')

    add('Growth with the plant (instructions per operation, 100,000 / 10)')
    add('%-40s %12s %12s %8s' % ('operation', '10', '100,000', 'ratio'))
    for key, label, field in (('exchange', 'exchange (ComCommunication + DataCom)', 'driver'),
                              ('get', 'GetRegisterData, 1 value', 'call'),
                              ('get', '  of which the cache lookup', 'lookup'),
                              ('set', 'SetRegisterData (cache only), 1 value', 'call'),
                              ('write', 'write: SetRegisterData + exchange', 'call')):
        a = c.get('%s.10' % key, {}).get(field)
        b = c.get('%s.100000' % key, {}).get(field)
        add('%-40s %12s %12s %8s' % (label, fmt(a), fmt(b), ratio(b, a)))
    rb = [(int(k.split('.')[1]), v) for k, v in c.items() if k.startswith('rebuild.')]
    for size, v in sorted(rb):
        add('%-40s %12s per host variable (%s in all)' % ('ReCreatReadVarList of %s' % fmt(size), fmt(v['per_var']),
                                                        fmt(v['call'])))
    add('')

    add('Heap calls per operation (malloc interposer)')
    add('%-12s %12s %12s %12s' % ('operation', 'allocations', 'frees', 'bytes'))
    for mode, v in heap_.items():
        label = mode + (' (per var)' if mode == 'rebuild' else '')
        add('%-12s %12.2f %12.2f %12.1f' % (label, v['allocations'] + v['reallocations'], v['frees'], v['bytes']))
    if mem:
        add('heap per cached value at %s values: %.0f bytes; per read-list entry: %.0f bytes' %
            (fmt(mem['size']), mem['per_value'], mem['per_read_entry']))
    add('')

    if gb:
        add('Timings (Google Benchmark, CPU time, median of 3; noisy on a shared machine)')
        add('%-34s %12s %12s %12s %8s' % ('benchmark', '10', '1,000', '100,000', '100k/10'))
        for name in ('BM_Exchange', 'BM_GetRegisterData', 'BM_GetRegisterData64', 'BM_SetRegisterDataCache',
                     'BM_WriteExchange', 'BM_ReCreatReadVarList'):
            vals = [gb.get('%s/%d' % (name, s), {}).get('ns') for s in (10, 1000, 100000)]
            unit = ' ns/var' if name == 'BM_ReCreatReadVarList' else ' ns'
            if name == 'BM_ReCreatReadVarList':
                vals = [v / s if v else None for v, s in zip(vals, (10, 1000, 100000))]
            if name == 'BM_GetRegisterData64':
                vals = [v / 64 if v else None for v in vals]
                unit = ' ns/val'
            add('%-34s %12s %12s %12s %8s' % (name + unit, fmt(vals[0], 1), fmt(vals[1], 1), fmt(vals[2], 1),
                                              ratio(vals[2], vals[0])))
        bigo = gb.get('BM_ReCreatReadVarList_BigO', {}).get('complexity')
        if bigo:
            add('ReCreatReadVarList fitted complexity: %s' % bigo)
        add('')

    pf = RESULTS.get('pty_any_cpu', {})
    if pt:
        add('Exchanges per second over a pseudo-terminal (same run, median of rounds)')
        add('%-10s %12s %8s %17s   %12s %8s %17s' % ('peers', 'one CPU', 'ratio', 'rounds', 'any CPU', 'ratio',
                                                      'rounds'))

        def spread(d, k):
            r = d.get(k + '.range')
            return '%s..%s' % (fmt(r[0]), fmt(r[1])) if r else ''

        for k in ('echo', 'modbus', 'harness', 'host'):
            if k in pt or k in pf:
                add('%-10s %10s/s %8s %17s   %10s/s %8s %17s' % (
                    k, fmt(pt.get(k)), ratio(pt.get(k), pt.get('modbus')), spread(pt, k),
                    fmt(pf.get(k)), ratio(pf.get(k), pf.get('modbus')), spread(pf, k)))
        add('')

    add('Goals')
    g1 = None if not ex10 or mb_lib is None else ex10['driver'] < mb_lib
    add('%-74s %s' % ('exchange (all code) < libmodbus in-library instructions', goal(g1)))
    g1b = None if not ex10 or mb_lib is None else ex10['lib'] < mb_lib
    add('%-74s %s' % ('exchange (libMarovin only) < libmodbus in-library instructions', goal(g1b)))
    g2 = None if not host or mb_total is None else host['total'] < mb_total
    add('%-74s %s' % ('marovin-host loop per exchange < libmodbus whole client', goal(g2)))
    g2c = None if not host10 or mb_total is None else host10['total'] < mb_total
    add('%-74s %s' % ('(the same with 10 values)', goal(g2c)))
    g2b = None if not h or mb_total is None else h.get('total') < mb_total
    add('%-74s %s' % ('(driver loop over tools/port per exchange < libmodbus whole client)', goal(g2b)))
    flat = []
    for key, field in (('exchange', 'driver'), ('get', 'call')):
        a = c.get('%s.10' % key, {}).get(field)
        b = c.get('%s.100000' % key, {}).get(field)
        flat.append(None if a is None or b is None else b <= 1.2 * a)
    add('%-74s %s' % ('exchange at 100,000 values <= 1.2 x at 10', goal(flat[0])))
    add('%-74s %s' % ('GetRegisterData at 100,000 values <= 1.2 x at 10', goal(flat[1])))
    lin = None
    if len(rb) >= 2:
        per = [v['per_var'] for _, v in sorted(rb)]
        lin = max(per) <= 1.2 * min(per)
    add('%-74s %s' % ('ReCreatReadVarList linear (per-variable cost within 1.2x over sizes)', goal(lin)))
    g4 = None if 'host' not in pt or 'modbus' not in pt else pt['host'] >= pt['modbus']
    add('%-74s %s' % ('marovin-host <-> marovin-sim exchanges/s >= libmodbus over pty (one CPU)', goal(g4)))
    g4b = None if 'host' not in pf or 'modbus' not in pf else pf['host'] >= pf['modbus']
    add('%-74s %s' % ('marovin-host <-> marovin-sim exchanges/s >= libmodbus over pty (any CPU)', goal(g4b)))
    if smoke:
        add('(smoke run: the figures above are not meaningful)')
    return '\n'.join(lines)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', required=True)
    ap.add_argument('--out')
    ap.add_argument('--smoke', action='store_true')
    ap.add_argument('--skip', default='')
    a = ap.parse_args()
    tree = Tree(a.build, a.out or os.path.join(a.build, 'results'))
    os.makedirs(tree.out, exist_ok=True)
    import shutil
    for old in os.listdir(tree.out):
        if old.startswith('cg-'):
            shutil.rmtree(os.path.join(tree.out, old), ignore_errors=True)
    skip = set(x for x in a.skip.split(',') if x)
    # Parts skipped now keep the figures of the last run.
    previous = os.path.join(tree.out, 'figures.json')
    if skip and os.path.exists(previous):
        RESULTS.update(json.load(open(previous)))
    start = time.time()
    parts = (('counts', counts), ('heap', heap), ('memory', memory), ('gbench', gbench), ('pty', pty),
             ('host', host_counts))
    for name, fn in parts:
        if name in skip:
            continue
        t = time.time()
        fn(tree, a.smoke)
        note('%s done in %.0f s' % (name, time.time() - t))
    with open(os.path.join(tree.out, 'figures.json'), 'w') as f:
        json.dump(RESULTS, f, indent=1)
    text = summary(a.smoke)
    with open(os.path.join(tree.out, 'summary.txt'), 'w') as f:
        f.write(text + '\n')
    print()
    print(text)
    print()
    print('results in %s (figures.json, summary.txt); %.0f s' % (tree.out, time.time() - start))
    failed = [c for c in CHECKS if not c[1]]
    passed = len(CHECKS) - len(failed)
    print('%d passed, %d failed' % (passed, len(failed)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
