#!/usr/bin/env python3
"""Puts deliberate faults into src/ one at a time and records which tests catch each.

Each fault in faults.json is a file, an exact original snippet and its replacement. For each
fault the script swaps the snippet in, builds the tests that could see it (incrementally, in a
build directory of its own, under the shared build lock), runs them, and puts the file back.
A snippet that no longer matches is reported as stale, a fault that does not compile as such;
neither counts. A fault marked "equivalent" (it changes nothing observable) is skipped and not
counted. Results go to results.json (merged across runs) and a per-folder table in results.txt.

  tests/faults/run-faults.py --baseline            clean build, run every mapped test once
  tests/faults/run-faults.py                       every fault not yet in results.json
  tests/faults/run-faults.py --sample 40           40 faults spread over the folders
  tests/faults/run-faults.py --ids core-03 ui-07   just these
  tests/faults/run-faults.py --whole-suite ...     run the whole suite for each fault
  tests/faults/run-faults.py --report              only rewrite results.txt
  tests/faults/run-faults.py --tests-for core-03   print the tests mapped to a fault
  tests/faults/run-faults.py --ids media-11 --tests tst_twohomes
                                                   run these tests too and add what they
                                                   catch to the fault's record (before a cut)
"""
import argparse, contextlib, fcntl, json, os, re, subprocess, sys, time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LOCK = '/tmp/zelmo-build.lock'
RESULTS = os.path.join(HERE, 'results.json')
BACKUP = os.path.join(HERE, '.restore.json')

# Where a class is not named by any test, the tests that drive its folder through whole
# programs or windows.
FOLDER_TESTS = {
    'app': ['tst_commandline', 'tst_directoryserver'],
    'root': ['tst_callcontrol', 'tst_securecall', 'tst_datafiles'],
    'ui': ['tst_mainwindow', 'tst_options', 'tst_directorywindow', 'tst_videodialogs'],
    'share': ['tst_screenshare'],
    'desktop': ['tst_desktop', 'tst_talkkey'],
    'path': ['tst_pathfinder', 'tst_callpath'],
    'iceagent': ['tst_icesession', 'tst_pathfinder', 'tst_callpath'],
    'server': ['tst_directoryserver', 'tst_serverabuse'],
}
# Tests that see a folder whatever the naming says: the programs' own start and end.
ALWAYS_TESTS = {
    'app': ['tst_commandline', 'tst_directoryserver'],
    'root': ['tst_faults'],
}
# Tests too slow or too environment-bound to run per fault unless named.
SLOW = {'demo'}


def env():
    e = dict(os.environ)
    e.update(CMAKE_CXX_COMPILER_LAUNCHER='ccache', CCACHE_BASEDIR='/work', CCACHE_NOHASHDIR='1',
             CCACHE_DIR='/work/.ccache')
    return e


def test_names():
    return sorted(f[:-4] for f in os.listdir(os.path.join(ROOT, 'tests'))
                  if f.startswith('tst_') and f.endswith('.cpp'))


def mentions(path, word):
    try:
        return re.search(r'\b%s\b' % re.escape(word), open(path, errors='replace').read()) is not None
    except OSError:
        return False


def includers(cls):
    """Classes in src/ whose files include cls's header."""
    out = set()
    for dp, _, fs in os.walk(os.path.join(ROOT, 'src')):
        for f in fs:
            if f.endswith(('.cpp', '.h')) and os.path.splitext(f)[0] != cls and \
                    re.search(r'#include\s+[<"]([\w/]*/)?%s\.h[>"]' % re.escape(cls),
                              open(os.path.join(dp, f), errors='replace').read()):
                out.add(os.path.splitext(f)[0])
    return out


def naming_tests(classes, all_tests):
    support = os.path.join(ROOT, 'tests', 'support')
    words = '|'.join(re.escape(c) for c in classes)
    kits = [os.path.splitext(f)[0] for f in os.listdir(support)
            if re.search(r'\b(%s)\b' % words, open(os.path.join(support, f), errors='replace').read())]
    chosen = []
    for t in all_tests:
        text = open(os.path.join(ROOT, 'tests', t + '.cpp'), errors='replace').read()
        if re.search(r'\b(%s)\b' % words, text) or any(
                re.search(r'support/%s\.h' % re.escape(k), text) for k in kits):
            chosen.append(t)
    return chosen


def tests_for(fault, all_tests):
    """The tests that name the fault's class (directly or through a support kit); where
    none does, those naming the classes that include it, one level up at a time."""
    cls = os.path.splitext(os.path.basename(fault['file']))[0]
    folder = fault['file'].split('/')[1]
    classes, seen = {cls}, {cls}
    chosen = naming_tests(classes, all_tests)
    for _ in range(3):
        if chosen:
            break
        classes = set().union(*(includers(c) for c in classes)) - seen - {'Program', 'main'}
        seen |= classes
        if not classes:
            break
        chosen = naming_tests(classes, all_tests)
    chosen += ALWAYS_TESTS.get(folder, [])
    if fault.get('tests'):
        chosen += fault['tests']
    if not chosen:
        chosen = FOLDER_TESTS.get(folder, [])
    return sorted(set(t for t in chosen if t not in SLOW or t in fault.get('tests', [])))


class Lock:
    """The shared build lock, held across several faults (one turn) so that a turn is not
    lost between a fault's build and its tests; released when a turn's time is up."""

    def __init__(self, turn_seconds):
        self.turn = turn_seconds
        self.fd = None
        self.since = 0

    def take(self):
        if self.fd is not None and time.time() - self.since > self.turn:
            self.give()
            # Others waiting get their turn before this script asks again.
            time.sleep(45)
        if self.fd is None:
            self.fd = os.open(LOCK, os.O_RDWR | os.O_CREAT, 0o666)
            fcntl.flock(self.fd, fcntl.LOCK_EX)
            self.since = time.time()

    def give(self):
        if self.fd is not None:
            fcntl.flock(self.fd, fcntl.LOCK_UN)
            os.close(self.fd)
            self.fd = None


def sh(cmd, timeout=None):
    p = subprocess.run(cmd, cwd=ROOT, env=env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       text=True, timeout=timeout)
    return p.returncode, p.stdout


def failed_functions(out):
    """The scenarios (test functions, with their data rows) that failed in a run's output:
    what decides whether a single scenario, not only its file, catches something alone."""
    found = set()
    for m in re.finditer(r'^FAIL!\s+:\s+(\w+)::(\w+)\(([^)]*)\)', out, re.M):
        found.add(f'{m.group(1)}::{m.group(2)}' + (f'({m.group(3)})' if m.group(3) else ''))
    return sorted(found)


def build_and_run(build, tests, timeout, lock):
    """Under the lock: build the tests' targets, then run them. Returns (built, failed
    tests, log)."""
    # The executables too: many tests start zelmo or zelmo-directory, which nothing
    # rebuilds for them.
    targets = ' '.join(t for t in tests if t != 'demo') + ' zelmo zelmo-directory'
    if 'demo' in tests:
        targets += ' zelmo-demo'
    regex = '^(%s)$' % '|'.join(tests)
    script = (f'cmake --build {build} -j 2 --target {targets} >{build}/fault-build.log 2>&1 || exit 97\n'
              f'cd {build} && . {ROOT}/scripts/test-env.sh && '
              f'ctest -R "{regex}" -j 2 --timeout {timeout} --output-on-failure 2>&1')
    lock.take()
    rc, out = sh(['bash', '-c', script])
    if rc == 97:
        return False, [], open(os.path.join(build, 'fault-build.log'), errors='replace').read()[-3000:]
    failed = set()
    for m in re.finditer(r'Test\s+#\d+: (\S+) \.*\s*(\S.*?)\s+[\d.]+ sec', out):
        if not m.group(2).startswith('Passed'):
            failed.add(m.group(1))
    for m in re.finditer(r'^\s*\d+ - (\S+) \(', out, re.M):
        failed.add(m.group(1))
    return True, sorted(failed), out


def restore_leftover():
    if os.path.exists(BACKUP):
        b = json.load(open(BACKUP))
        open(os.path.join(ROOT, b['file']), 'w').write(b['text'])
        os.remove(BACKUP)
        print('restored', b['file'], 'from an interrupted run')


def apply_fault(fault):
    path = os.path.join(ROOT, fault['file'])
    if not os.path.exists(path):
        return None
    text = open(path).read()
    if text.count(fault['find']) != 1:
        return None
    json.dump({'file': fault['file'], 'text': text}, open(BACKUP, 'w'))
    open(path, 'w').write(text.replace(fault['find'], fault['replace']))
    return text


def put_back(fault, text):
    open(os.path.join(ROOT, fault['file']), 'w').write(text)
    os.remove(BACKUP)


def load_results():
    return json.load(open(RESULTS)) if os.path.exists(RESULTS) else {'baseline': {}, 'faults': {}}


def save_results(res):
    json.dump(res, open(RESULTS, 'w'), indent=1, sort_keys=True)
    write_report(res)


def report_path():
    return os.path.splitext(RESULTS)[0] + '.txt'


def with_hand_checks(res):
    """The campaign's results with the faults that a new check was seen to catch by hand
    (hand-checks.json: the check passed clean and failed with the fault, through
    tests/faults/check-fault.sh) counted as caught, until the campaign runs them again."""
    path = os.path.join(HERE, 'hand-checks.json')
    if not os.path.exists(path):
        return res
    merged = {'baseline': res['baseline'], 'faults': dict(res['faults'])}
    for fid, hand in json.load(open(path)).items():
        r = merged['faults'].get(fid)
        if not r or r['status'] != 'caught':
            merged['faults'][fid] = {'status': 'caught', 'caught_by': hand['caught_by'],
                                     'tests': hand['caught_by'], 'by_hand': hand.get('how', '')}
    return merged


def in_suite(res):
    """The results as the suite stands: a catch by a scenario file since dropped no longer
    counts, and a fault only such files caught is counted as not caught."""
    present = set(test_names()) | {'demo'}
    out = {'baseline': res['baseline'], 'faults': {}}
    for fid, r in res['faults'].items():
        r = dict(r)
        if r.get('status') == 'caught':
            r['caught_by'] = [t for t in r['caught_by'] if t in present]
            r['status'] = 'caught' if r['caught_by'] else 'survived'
        out['faults'][fid] = r
    return out


def write_report(res):
    res = in_suite(with_hand_checks(res))
    faults = json.load(open(os.path.join(HERE, 'faults.json')))
    rows, total = {}, [0, 0, 0]
    for f in faults:
        folder = f['file'].split('/')[1]
        r = res['faults'].get(f['id'])
        row = rows.setdefault(folder, [0, 0, 0, 0])  # listed, run, observable, caught
        row[0] += 1
        if not r or f.get('equivalent'):
            continue
        row[1] += 1
        if r['status'] in ('caught', 'survived'):
            row[2] += 1
            row[3] += r['status'] == 'caught'
    lines = ['folder        listed  run  counted  caught  score']
    for folder in sorted(rows):
        l, run, obs, c = rows[folder]
        total = [total[0] + obs, total[1] + c, total[2] + run]
        score = f'{100 * c / obs:5.1f} %' if obs else '    -'
        lines.append(f'{folder:12} {l:7} {run:4} {obs:8} {c:7}  {score}')
    score = f'{100 * total[1] / total[0]:5.1f} %' if total[0] else '-'
    lines.append(f'{"all":12} {len(faults):7} {total[2]:4} {total[0]:8} {total[1]:7}  {score}')
    lines.append('')
    lines.append('Not caught:')
    for f in faults:
        r = res['faults'].get(f['id'])
        if r and r['status'] == 'survived' and not f.get('equivalent'):
            lines.append(f"  {f['id']:12} {f['file']}: {f['find'][:70]}  (ran {', '.join(r['tests'])})")
    lines.append('Not counted (stale, not compiling, or changing nothing observable):')
    for f in faults:
        r = res['faults'].get(f['id'], {})
        if f.get('equivalent') or r.get('status') in ('stale', 'no-compile'):
            lines.append(f"  {f['id']:12} {f.get('equivalent') or r.get('status')}")
    open(report_path(), 'w').write('\n'.join(lines) + '\n')
    print('\n'.join(lines[:len(rows) + 2]))


def spread(faults, n):
    """n faults taken round-robin over the folders, in list order within each."""
    by = {}
    for f in faults:
        by.setdefault(f['file'].split('/')[1], []).append(f)
    out = []
    while len(out) < n and any(by.values()):
        for folder in sorted(by):
            if by[folder] and len(out) < n:
                out.append(by[folder].pop(0))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', default=os.path.join(ROOT, 'build-faults'))
    ap.add_argument('--ids', nargs='*')
    ap.add_argument('--folder')
    ap.add_argument('--sample', type=int)
    ap.add_argument('--rerun', action='store_true', help='run faults already in results.json again')
    ap.add_argument('--whole-suite', action='store_true')
    ap.add_argument('--baseline', action='store_true')
    ap.add_argument('--timeout', type=int, default=240)
    ap.add_argument('--report', action='store_true')
    ap.add_argument('--results', help='results file (default tests/faults/results.json); its table goes beside it')
    ap.add_argument('--turn', type=int, default=300, help='seconds to keep the build lock across faults')
    ap.add_argument('--tests-for')
    ap.add_argument('--tests', nargs='*', help='run only these tests, adding to what is recorded')
    a = ap.parse_args()
    global RESULTS
    if a.results:
        RESULTS = os.path.abspath(a.results)
    restore_leftover()
    faults = json.load(open(os.path.join(HERE, 'faults.json')))
    res = load_results()
    all_tests = test_names()
    if a.report:
        write_report(res)
        return
    if a.tests_for:
        print(' '.join(tests_for(next(f for f in faults if f['id'] == a.tests_for), all_tests)))
        return
    lock = Lock(a.turn)
    if not os.path.exists(os.path.join(a.build, 'build.ninja')):
        lock.take()
        rc, out = sh(['cmake', '-S', ROOT, '-B', a.build, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=RelWithDebInfo'])
        if rc:
            sys.exit(out)
    chosen = [f for f in faults if not f.get('equivalent')]
    if a.ids:
        # In the order given: the faults that decide a cut go first.
        chosen = sorted((f for f in chosen if f['id'] in a.ids), key=lambda f: a.ids.index(f['id']))
    if a.folder:
        chosen = [f for f in chosen if f['file'].split('/')[1] == a.folder]
    if not a.rerun and not a.ids:
        chosen = [f for f in chosen if f['id'] not in res['faults']]
    if a.sample:
        chosen = spread(chosen, a.sample)
    if a.tests:
        # Only what has not run against the fault yet: the record is added to, not replaced.
        plan = [(f, [t for t in a.tests if t not in res['faults'].get(f['id'], {}).get('tests', [])])
                for f in chosen]
        plan = [(f, ts) for f, ts in plan if ts]
    else:
        plan = [(f, all_tests if a.whole_suite else tests_for(f, all_tests)) for f in chosen]
    if a.baseline:
        needed = sorted(set(t for _, ts in plan for t in ts))
        ok, failed, out = build_and_run(a.build, needed, a.timeout, lock)
        if not ok:
            sys.exit('the clean tree does not build:\n' + out)
        for t in needed:
            res['baseline'][t] = 'failed' if t in failed else 'passed'
        save_results(res)
        print('baseline failures:', failed or 'none')
        return
    for f, tests in plan:
        tests = [t for t in tests if res['baseline'].get(t) != 'failed']
        started = time.time()
        # The file stays faulty only while the lock is held: nobody builds it meanwhile.
        lock.take()
        original = apply_fault(f)
        if original is None:
            res['faults'][f['id']] = {'status': 'stale', 'tests': []}
            print(f['id'], 'stale')
            save_results(res)
            continue
        try:
            built, failed, out = build_and_run(a.build, tests, a.timeout, lock) if tests else (True, [], '')
        finally:
            put_back(f, original)
        status = 'no-compile' if not built else ('caught' if failed else 'survived')
        before = res['faults'].get(f['id'])
        if a.tests and not built and before:
            # A build that failed says nothing of the tests: the record stays as it was.
            print(f"{f['id']:12} did not build; its record is kept", flush=True)
            continue
        if a.tests and built and before and before.get('status') in ('caught', 'survived'):
            failed = sorted(set(failed) | set(before.get('caught_by', [])))
            tests = sorted(set(tests) | set(before.get('tests', [])))
            status = 'caught' if failed else 'survived'
        scenarios = failed_functions(out) if built else []
        if a.tests and before:
            scenarios = sorted(set(before.get('scenarios', [])) | set(scenarios))
        res['faults'][f['id']] = {'status': status, 'caught_by': failed, 'tests': tests,
                                  'scenarios': scenarios,
                                  'seconds': round(time.time() - started)}
        print(f"{f['id']:12} {status:10} {' '.join(failed)}  [{round(time.time() - started)} s]", flush=True)
        save_results(res)


if __name__ == '__main__':
    main()
