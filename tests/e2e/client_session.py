"""The whole client as a person uses it: a private X server, the demo service
as a process, a program directory made like an installed one, and the real
window driven through WebKitWebDriver.

Paths come from the environment the test registration sets:
TOMERACK_CLIENT, TOMERACK_TOOL, TOMERACK_DEMO_SERVICE, TOMERACK_SOURCE_DIR,
TOMERACK_MAKE_PACKAGE and E2E_OUTPUT_DIR (screenshots, logs, messages).
"""

import os
import shutil
import signal
import subprocess
import tempfile
import time

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.webkitgtk.options import Options

WEBDRIVER = '/usr/bin/WebKitWebDriver'
# The application name the client gives its automation sessions.
BROWSER_NAME = 'tomerack'


def env_path(name):
    value = os.environ.get(name, '')
    if not value:
        raise RuntimeError(name + ' is not set')
    return value


def wait_for(predicate, timeout=30.0, interval=0.1, what='condition'):
    deadline = time.monotonic() + timeout
    last_error = None
    while time.monotonic() < deadline:
        try:
            value = predicate()
            if value:
                return value
        except WebDriverException as error:  # the page is between states
            last_error = error
        time.sleep(interval)
    raise AssertionError('timed out waiting for %s (%s)' % (what, last_error))


class Xvfb:
    """A private X server; its number comes back through -displayfd."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1280x1024x24',
             '-nolisten', 'tcp'],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError('Xvfb did not start')
        self.display = ':' + number

    def screenshot(self, path):
        subprocess.run(['import', '-display', self.display, '-window', 'root', path],
                       check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class DemoService:
    """The demo service; restart() brings it back on the same port."""

    def __init__(self, work_dir, options=()):
        self.work_dir = work_dir
        self.options = list(options)
        self.port = 0
        self.process = None
        self.access_log = os.path.join(work_dir, 'access.log')

    def start(self, attempts=1):
        port_file = os.path.join(self.work_dir, 'port')
        for attempt in range(attempts):
            if os.path.exists(port_file):
                os.unlink(port_file)
            with open(os.path.join(self.work_dir, 'demo.err'), 'ab') as errors:
                self.process = subprocess.Popen(
                    [env_path('TOMERACK_DEMO_SERVICE'), '--port', str(self.port), '--port-file',
                     port_file, '--stop-after', '1800', '--access-log', self.access_log] +
                    self.options, stdout=subprocess.DEVNULL, stderr=errors)
            try:
                wait_for(lambda: (os.path.exists(port_file) and os.path.getsize(port_file) > 0)
                         or self.process.poll() is not None, timeout=30, what='the demo service')
            except AssertionError:
                self.stop()
                raise
            if self.process.poll() is None:
                break
            # The port may still be held by connections of the last run.
            time.sleep(0.5)
        else:
            raise AssertionError('the demo service did not start on port %d' % self.port)
        with open(port_file) as f:
            self.port = int(f.read().strip())
        return self

    @property
    def server(self):
        return '127.0.0.1:%d' % self.port

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)
        self.process = None

    def restart(self):
        self.stop()
        return self.start(attempts=40)

    def publish(self, gid):
        import urllib.request
        request = urllib.request.Request('http://%s/demo/publish/%s' % (self.server, gid),
                                         data=b'', method='POST')
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.status


class ProgramDir:
    """A program directory laid out as `cmake --install` makes one, configured
    for the demo service as scripts/run does it."""

    def __init__(self, root):
        self.root = root
        os.makedirs(root, exist_ok=True)
        shutil.copy2(env_path('TOMERACK_CLIENT'), os.path.join(root, 'tomerack'))
        shutil.copy2(env_path('TOMERACK_TOOL'), os.path.join(root, 'tomerack-tool'))
        shutil.copytree(os.path.join(env_path('TOMERACK_SOURCE_DIR'), 'DTM'),
                        os.path.join(root, 'DTM'))

    def configure(self, server):
        settings = [
            ('serverlist', 'app#demo#1#1#{0};dat#demo#1#1#{0};cor#demo#1#1#{0}'.format(server)),
            ('url_getServerlist', 'http://%s/serverlist' % server),
            ('wwwhome', 'http://$SERVER$/'),
            ('wwwhome_app', 'http://$SERVER$/'),
            ('wwwhome_data', 'http://$SERVER_DATA$/data'),
            ('url_getTomeRack', 'http://$SERVER$/api/tomerack'),
            ('_CONFIG_EF_token', 'demo-token'),
        ]
        for name, value in settings:
            subprocess.run([os.path.join(self.root, 'tomerack-tool'), 'config', '--program-dir',
                            self.root, 'set', name, value], check=True,
                           stdout=subprocess.DEVNULL)

    def path(self, *parts):
        return os.path.join(self.root, *parts)


class Client:
    """One run of the client under WebDriver. The client is started through
    a small script that records its pid and exit status."""

    def __init__(self, program, xvfb, out_dir, name):
        self.program = program
        self.xvfb = xvfb
        self.out_dir = out_dir
        self.pid_file = os.path.join(out_dir, name + '.pid')
        self.exit_file = os.path.join(out_dir, name + '.exit')
        self.messages = os.path.join(out_dir, 'messages.txt')
        run_dir = os.path.join(out_dir, 'run')
        os.makedirs(run_dir, exist_ok=True)
        os.chmod(run_dir, 0o700)
        for stale in (self.pid_file, self.exit_file):
            if os.path.exists(stale):
                os.unlink(stale)
        wrapper = os.path.join(out_dir, name + '-client.sh')
        environment = {
            'DISPLAY': xvfb.display,
            'TOMERACK_PROGRAM_DIR': program.root,
            'TOMERACK_REGISTRY_DIR': program.path('registry'),
            'TOMERACK_MESSAGE_LOG': self.messages,
            'XDG_RUNTIME_DIR': run_dir,
        }
        exports = ''.join("export %s='%s'\n" % item for item in environment.items())
        with open(wrapper, 'w') as f:
            f.write('#!/bin/sh\n' + exports +
                    '"%s" "$@" 2>>"%s" &\n' % (program.path('tomerack'),
                                               os.path.join(out_dir, 'client.err')) +
                    'echo $! > "%s"\nwait $!\necho $? > "%s"\n' % (self.pid_file, self.exit_file))
        os.chmod(wrapper, 0o755)
        options = Options()
        options.binary_location = wrapper
        options.add_argument('--automation')
        options.set_capability('browserName', BROWSER_NAME)
        os.environ['DISPLAY'] = xvfb.display
        self.driver = webdriver.WebKitGTK(executable_path=WEBDRIVER, options=options)
        self.driver.implicitly_wait(0)

    # ---- the page ---------------------------------------------------------

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def finds(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def visible(self, css):
        found = self.finds(css)
        return bool(found) and found[0].is_displayed()

    def text(self, css):
        found = self.finds(css)
        return found[0].text if found else ''

    def card(self, bsid):
        return self.find('li.book[data-bsid="%s"]' % bsid)

    def status_of(self, bsid):
        return self.text('li.book[data-bsid="%s"] .book-status' % bsid)

    def action(self, bsid, action):
        """The card's button, scrolled to the middle of the shelf as a person
        scrolls to it before clicking."""
        button = self.find('li.book[data-bsid="%s"] button[data-action="%s"]' % (bsid, action))
        self.driver.execute_script("arguments[0].scrollIntoView({block: 'center'});", button)
        return button

    def sign_in(self, user, password):
        wait_for(lambda: self.visible('#sign-in-form'), what='the sign-in form')
        field = self.find('#user')
        field.clear()
        field.send_keys(user)
        self.find('#password').send_keys(password)
        self.find('#sign-in').click()

    def shelf_bsids(self):
        return [card.get_attribute('data-bsid') for card in self.finds('#shelf li.book')]

    def wait_shelf(self, count=None, timeout=60):
        def ready():
            ids = self.shelf_bsids()
            return ids if ids and (count is None or len(ids) == count) else None
        return wait_for(ready, timeout=timeout, what='the shelf')

    def wait_status(self, bsid, status, timeout=90):
        return wait_for(lambda: self.status_of(bsid) == status, timeout=timeout,
                        what='%s to be %s (now %r)' % (bsid, status, self.status_of(bsid)))

    def covers_loaded(self):
        return self.driver.execute_script(
            "var images = document.querySelectorAll('#shelf .cover-image');"
            "return images.length > 0 && Array.prototype.every.call(images, function (i) {"
            "  return i.complete && i.naturalWidth > 0; });")

    def notice(self):
        return self.text('#notice')

    def screenshot(self, label):
        # The DOM is ahead of the window's last painted frame: give it time
        # to paint what the test has just read.
        time.sleep(0.5)
        # Numbered across the clients of a session, in the order taken.
        taken = [name for name in os.listdir(self.out_dir) if name.endswith('.png')]
        path = os.path.join(self.out_dir, '%02d-%s.png' % (len(taken) + 1, label))
        self.xvfb.screenshot(path)
        return path

    def start_work(self, bsid, action='download', timeout=60):
        """Clicks download (or upgrade) as a pupil would, and again when the
        client says the book's package list is still on its way: right after
        sign-in the sync may not have fetched it yet."""
        not_ready = '课本配置文件有错'
        deadline = time.monotonic() + timeout
        card = 'li.book[data-bsid="%s"]' % bsid
        while True:
            seen = self.message_log().count(not_ready)
            self.action(bsid, action).click()
            # Back at once when the card shows the work: the test may want to
            # watch all of it.
            settle = time.monotonic() + 2
            refused = False
            while time.monotonic() < settle:
                if self.message_log().count(not_ready) != seen:
                    refused = True
                    break
                if self.visible(card + ' .progress'):
                    return
                time.sleep(0.05)
            if not refused:
                return
            if time.monotonic() > deadline:
                raise AssertionError('%s of %s was never accepted' % (action, bsid))
            time.sleep(1)

    def message_log(self):
        if not os.path.exists(self.messages):
            return ''
        with open(self.messages, encoding='utf-8', errors='replace') as f:
            return f.read()

    # ---- the process ------------------------------------------------------

    def pid(self):
        wait_for(lambda: os.path.exists(self.pid_file) and os.path.getsize(self.pid_file) > 0,
                 timeout=10, what='the client pid')
        with open(self.pid_file) as f:
            return int(f.read().strip())

    def exit_status(self, timeout=30):
        wait_for(lambda: os.path.exists(self.exit_file) and os.path.getsize(self.exit_file) > 0,
                 timeout=timeout, what='the client to end')
        with open(self.exit_file) as f:
            return int(f.read().strip())

    def kill(self):
        os.kill(self.pid(), signal.SIGKILL)
        self.exit_status()
        self.close_driver()

    def close_driver(self):
        try:
            self.driver.quit()
        except Exception:  # the window may be gone already
            pass


class Session:
    """Everything one test needs, cleaned up in close()."""

    def __init__(self, name, demo_options=(), print_logs=False):
        self.print_logs = print_logs
        base = os.environ.get('E2E_OUTPUT_DIR') or tempfile.mkdtemp(prefix='e2e-')
        self.out_dir = os.path.join(base, name)
        shutil.rmtree(self.out_dir, ignore_errors=True)
        os.makedirs(self.out_dir)
        self.work = tempfile.mkdtemp(prefix='tomerack-e2e-')
        self.xvfb = Xvfb()
        self.demo = DemoService(self.work, demo_options).start()
        self.program = ProgramDir(os.path.join(self.work, 'program'))
        self.program.configure(self.demo.server)
        self.clients = []

    def client(self):
        client = Client(self.program, self.xvfb, self.out_dir, 'client%d' % (len(self.clients) + 1))
        self.clients.append(client)
        return client

    def close(self):
        for client in self.clients:
            client.close_driver()
            try:
                os.kill(client.pid(), signal.SIGKILL)
            except (OSError, AssertionError):
                pass
        self.demo.stop()
        self.xvfb.close()
        self.keep_evidence()
        shutil.rmtree(self.work, ignore_errors=True)

    def keep_evidence(self):
        """Copies the client's logs, its book records and the service's access
        log into the output folder, so a failed run can be read afterwards."""
        for part in ('log', 'data/bookinf'):
            source = self.program.path(part)
            if os.path.isdir(source):
                shutil.copytree(source, os.path.join(self.out_dir, 'program', part),
                                dirs_exist_ok=True)
        if os.path.exists(self.demo.access_log):
            shutil.copy2(self.demo.access_log, os.path.join(self.out_dir, 'access.log'))
        if self.print_logs:
            self.print_log_tails()

    def print_log_tails(self, lines=25):
        """The ends of the client's logs on standard output, which ctest
        shows only when the test failed: the evidence a CI run keeps."""
        logs = [os.path.join(self.out_dir, 'client.err')]
        log_dir = os.path.join(self.out_dir, 'program', 'log')
        if os.path.isdir(log_dir):
            logs += [os.path.join(log_dir, name) for name in sorted(os.listdir(log_dir))]
        for path in logs:
            if not os.path.isfile(path):
                continue
            with open(path, 'rb') as f:
                tail = f.read().splitlines()[-lines:]
            print('--- %s (last %d lines)' % (os.path.relpath(path, self.out_dir), len(tail)))
            for line in tail:
                # The daily log is in the client's code page.
                print(line.decode('gbk', errors='replace'))
