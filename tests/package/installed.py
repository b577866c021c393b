#!/usr/bin/python3
"""The Debian package as a user gets it: built, checked by lintian, installed into a clean
root, and the installed program started by an ordinary user (nobody) on Xvfb with the panel
faked on the USB bus. A settings file in the user's ~/.config turns the traffic log on; a
forced fault goes to the error log in ~/.local/state; nothing is written under /usr.

Run as root: umockdev-wrapper /usr/bin/python3 installed.py <build folder> <panel-sim>
"""
import glob
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'umockdev'))
from common import run_main  # noqa: E402
from demo import Program, Xvfb  # noqa: E402
from umockpanel import Rig, TESTBED, lines, node_path, wait_for  # noqa: E402

BUILD, os.environ['PANEL_SIM'] = sys.argv[1], os.path.abspath(sys.argv[2])
USER = 'nobody'
EXPECTED = [
    'usr/bin/BrekGSMDemo',
    'usr/lib/udev/rules.d/70-brekgsm-panel.rules',
    'usr/share/applications/brekgsmdemo.desktop',
    'usr/share/doc/brekgsmdemo/BrekGSMDemo.ini.example',
    'usr/share/doc/brekgsmdemo/changelog.gz',
    'usr/share/doc/brekgsmdemo/copyright',
    'usr/share/icons/hicolor/16x16/apps/brekgsmdemo.png',
    'usr/share/icons/hicolor/256x256/apps/brekgsmdemo.png',
    'usr/share/icons/hicolor/32x32/apps/brekgsmdemo.png',
    'usr/share/icons/hicolor/48x48/apps/brekgsmdemo.png',
    'usr/share/man/man1/BrekGSMDemo.1.gz',
    'usr/share/metainfo/invalid.brekgsmdemo.brekgsmdemo.metainfo.xml',
]


def check(cond, what):
    if not cond:
        raise AssertionError(what)


def run(*args, **kw):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def build_package(work):
    # Built twice, into two folders, with the dates a rebuild gives in between: the same bytes.
    debs = []
    for folder in (BUILD, os.path.join(work, 'second')):
        if debs:
            time.sleep(1.1)
            for f in [os.path.join(BUILD, 'src/app/BrekGSMDemo')] + glob.glob(os.path.join(BUILD, 'packaging/*.*')):
                os.utime(f)
        r = run('cpack', '-G', 'DEB', '-B', folder, cwd=BUILD)
        debs.append(os.path.join(folder, 'brekgsmdemo_1.21.0.50_amd64.deb'))
        check(r.returncode == 0 and os.path.exists(debs[-1]),
              'cpack: brekgsmdemo_1.21.0.50_amd64.deb ' + r.stdout[-2000:])
    deb = debs[0]
    check(open(deb, 'rb').read() == open(debs[1], 'rb').read(), 'two builds give the same package')
    fields = run('dpkg-deb', '-f', deb, 'Section', 'Package').stdout
    check('Section: utils' in fields, fields)
    lint = run('lintian', '--allow-root', deb)
    errors = [x for x in lint.stdout.splitlines() if x.startswith('E:')]
    check(not errors, 'lintian errors: ' + '; '.join(errors))
    print('lintian: ' + ('; '.join(x for x in lint.stdout.splitlines() if x[:2] in ('W:', 'I:')) or 'nothing'))
    return deb


def install(deb, root):
    os.makedirs(os.path.join(root, 'var/lib/dpkg/updates'))
    os.makedirs(os.path.join(root, 'var/lib/dpkg/info'))
    open(os.path.join(root, 'var/lib/dpkg/status'), 'w').close()
    # Scripts run outside the root with DPKG_ROOT set: the postinst then leaves this machine's udev alone.
    r = run('dpkg', f'--root={root}', '--force-script-chrootless', '--force-depends', '--log=/dev/null', '-i', deb)
    check(r.returncode == 0, 'dpkg: ' + r.stdout)
    files = sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(os.path.join(root, 'usr'))
                   for f in fs)
    check(files == EXPECTED, f'installed files: {files!r}')
    exe = os.path.join(root, 'usr/bin/BrekGSMDemo')
    file_out = run('file', exe).stdout if shutil.which('file') else 'stripped'
    check('not stripped' not in file_out, 'the program is stripped: ' + file_out)
    check(run('readelf', '-S', exe).stdout.count('.debug_info') == 0, 'no debugging sections')
    r = run('appstreamcli', 'validate', '--no-net', os.path.join(root, EXPECTED[-1]))  # the software centres' entry
    check(r.returncode == 0, 'appstreamcli: ' + r.stdout)
    return exe


def snapshot(folder):
    out = {}
    for d, _, fs in os.walk(folder):
        for f in fs:
            p = os.path.join(d, f)
            st = os.lstat(p)
            out[p] = (st.st_size, st.st_mtime_ns)
    return out


def as_user(path, mode=0o755):
    os.chown(path, 65534, 65534)
    os.chmod(path, mode)


def main():
    work = tempfile.mkdtemp(prefix='brek-package-')
    os.chmod(work, 0o755)
    deb = build_package(work)
    root = os.path.join(work, 'root')
    exe = install(deb, root)
    usr_before = snapshot(os.path.join(root, 'usr'))

    # The user's home: settings in ~/.config/brekgsmdemo that turn the traffic log on.
    home = os.path.join(work, 'home')
    config = os.path.join(home, '.config', 'brekgsmdemo')
    traffic = os.path.join(home, 'brek-logs')
    os.makedirs(config)
    os.makedirs(traffic)
    with open(os.path.join(config, 'BrekGSMDemo.ini'), 'wb') as f:
        f.write(b'[ProgrammSet]\r\nControllerLogFileName=' + traffic.encode() + b'/Panel.txt\r\n')
    for d, _, fs in os.walk(home):
        as_user(d)
        for x in fs:
            as_user(os.path.join(d, x), 0o644)

    # The faked device tree and the panel's pty must be the user's to open, as the udev rule makes them.
    testbed = TESTBED.get_root_dir()
    rig = Rig(os.path.join(work, 'transcript.txt'))
    panel = rig.plug()
    for d, ds, fs in os.walk(testbed):
        for x in ds + fs:
            p = os.path.join(d, x)
            if not os.path.islink(p):
                os.chmod(p, os.stat(p).st_mode | stat.S_IROTH | stat.S_IWOTH | (stat.S_IXOTH if os.path.isdir(p) else 0))
    os.chmod(testbed, 0o777)
    os.chmod(node_path(TESTBED, f'ttyACM{panel.n}'), 0o666)

    xvfb = Xvfb()
    env = {k: v for k, v in os.environ.items() if not k.startswith('XDG_')}
    env.update(DISPLAY=xvfb.display, UMOCKDEV_DIR=testbed, HOME=home, QT_QPA_PLATFORM='xcb')
    # Started as the desktop menu does: the installed program, by an ordinary user.
    launch = os.path.join(work, 'launch')
    os.makedirs(launch)
    program = Program(exe, launch, xvfb.display, launcher=('runuser', '-u', USER, '--', 'env', f'HOME={home}'),
                      env=env, installed=True)
    try:
        program.wait_window(20)
        check(wait_for(lambda: 'ZOLVA_SN?' in lines(rig.transcript), 15),
              f'connected as {USER}; the panel heard {lines(rig.transcript)!r}')
        check(wait_for(lambda: glob.glob(os.path.join(traffic, 'Panel*.log')), 5), 'the traffic log is on')
        logs = glob.glob(os.path.join(traffic, 'Panel*.log'))
        check(b'VERSION?' in open(logs[0], 'rb').read(), 'the traffic log holds the dialogue')
        check(os.stat(logs[0]).st_uid == 65534, 'written by the user')

        # A fault: a reply line longer than the receive ring, without its CR.
        os.write(panel.fd, b'x' * 40000 + b'\r\n')
        state_log = os.path.join(home, '.local', 'state', 'brekgsmdemo', 'ErrorLog.log')
        check(wait_for(lambda: os.path.exists(state_log) and os.path.getsize(state_log) > 0, 10),
              'the fault is in ~/.local/state/brekgsmdemo/ErrorLog.log; the home holds ' +
              repr(sorted(os.path.join(d, f) for d, _, fs in os.walk(home) for f in fs)))
        check(b'without CR was dropped' in open(state_log, 'rb').read(), 'the fault logged')
        time.sleep(0.5)
        check(snapshot(os.path.join(root, 'usr')) == usr_before, 'nothing written under /usr')
        check(not os.path.exists(os.path.join(root, 'usr', 'bin', 'ErrorLog.log')), 'no log beside the program')
        print(f'ok: installed {len(EXPECTED)} files; as {USER}: traffic log {os.path.basename(logs[0])}, '
              f'error log in ~/.local/state/brekgsmdemo')
    finally:
        program.close()
        rig.close()
        xvfb.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    run_main(main)
