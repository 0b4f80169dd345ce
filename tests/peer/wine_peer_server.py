"""Runs the tests' Python snippets on Linux for test programs under Wine.

Usage: wine_peer_server.py SPOOL WINEPREFIX

A test program under Wine cannot run a Linux program and catch its output,
so its RunPython (tests/support) leaves each request in SPOOL: ID.req holds
the snippet's length, the snippet, then its arguments, one per line. This
server turns the Windows paths among the arguments (C:\\..., Z:\\..., and
Linux folders joined with a backslash) into Linux ones through the
prefix's drive links, runs the snippet with
/usr/bin/python3, and answers with ID.out (its standard output) and then
ID.done (its exit code). It runs until killed.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

spool, prefix = sys.argv[1], sys.argv[2]
drive_path = re.compile(r'^([A-Za-z]):[\\/]')


def linux_path(arg):
    m = drive_path.match(arg)
    if m:
        root = os.path.realpath(os.path.join(prefix, 'dosdevices', m.group(1).lower() + ':'))
        return os.path.join(root, arg[3:].replace('\\', '/'))
    # A Linux folder the test was given, joined with a Windows separator.
    if arg.startswith('/') and '\\' in arg:
        return arg.replace('\\', '/')
    return arg


def answer(req):
    with open(req, 'rb') as f:
        data = f.read()
    size, _, rest = data.partition(b'\n')
    script, args = rest[:int(size)], rest[int(size):].decode('utf-8').split('\n')[:-1]
    with tempfile.NamedTemporaryFile('wb', suffix='.py', delete=False) as f:
        f.write(script)
    try:
        run = subprocess.run(['/usr/bin/python3', f.name] + [linux_path(a) for a in args],
                             stdout=subprocess.PIPE)
    finally:
        os.unlink(f.name)
    base = req[:-len('.req')]
    os.unlink(req)
    with open(base + '.out', 'wb') as f:
        f.write(run.stdout)
    with open(base + '.done.part', 'w') as f:
        f.write(str(run.returncode))
    os.rename(base + '.done.part', base + '.done')


while True:
    reqs = [e.path for e in os.scandir(spool) if e.name.endswith('.req')]
    for req in reqs:
        answer(req)
    if not reqs:
        time.sleep(0.002)
