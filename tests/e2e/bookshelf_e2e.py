"""The shipped bookshelf page in the real client, clicked as a pupil does.
Screenshots of every step land in E2E_OUTPUT_DIR/<test>/."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from client_session import Session, env_path, wait_for  # noqa: E402

PUPIL = ('xiaoming', 'xm2026')
TEACHER = ('laoshi', 'ls2026')
PUPIL_BOOKS = ['b1001', 'b1002', 'b1003', 'b1004', 'b1005', 'b1006', 'b1007']
TEACHER_BOOKS = ['b2001', 'b2002', 'b2003']


def opened_log(program):
    path = program.path('data', 'books', 'books', 'g1002', 'g1002', 'opened.log')
    if not os.path.exists(path):
        return ''
    with open(path) as f:
        return f.read()


def big_package(work, mib):
    """A package big enough that a download is seen in flight (book b1900)."""
    path = os.path.join(work, 'big.zip')
    subprocess.run([env_path('TOMERACK_MAKE_PACKAGE'), path, str(mib), str(mib * 4)],
                   check=True, stdout=subprocess.DEVNULL)
    return path


class BookshelfTest(unittest.TestCase):

    def session(self, name, demo_options=()):
        session = Session(name, demo_options, print_logs=True)
        self.addCleanup(session.close)
        return session

    def test_a_pupils_day_from_sign_in_to_closing_the_window(self):
        # Slow answers, so that a download is seen under way.
        s = self.session('pupils_day', ['--slow-ms', '250'])
        c = s.client()
        c.screenshot('signed-out')
        self.assertTrue(c.visible('#sign-in-form'))
        self.assertFalse(c.visible('#shelf-view'))

        # A wrong password is refused in the page.
        c.sign_in(PUPIL[0], 'wrong')
        wait_for(lambda: '错误' in c.text('#sign-in-message'), what='the refusal')
        self.assertFalse(c.visible('#shelf-view'))

        c.sign_in(*PUPIL)
        self.assertEqual(c.wait_shelf(len(PUPIL_BOOKS)), PUPIL_BOOKS)
        wait_for(c.covers_loaded, what='the covers')
        self.assertEqual(c.text('#user-name'), '小明')
        self.assertIn('物理 八年级 上册', c.text('li.book[data-bsid="b1004"] .book-title'))
        c.wait_status('b1002', '未安装')
        c.screenshot('shelf')

        # Download: the bar shows while it runs and the book ends installed.
        c.start_work('b1002')
        seen = []

        def installed():
            if c.visible('li.book[data-bsid="b1002"] .progress'):
                text = c.text('li.book[data-bsid="b1002"] .percent').rstrip('%')
                if text.isdigit():
                    seen.append(int(text))
                if len(seen) == 1:
                    c.screenshot('downloading')
            return c.status_of('b1002') == '已安装'
        wait_for(installed, timeout=90, interval=0.1, what='b1002 installed')
        self.assertTrue(seen, 'the progress bar never showed')
        self.assertEqual(seen, sorted(seen), 'progress went backwards')
        self.assertFalse(c.visible('li.book[data-bsid="b1002"] .progress'))
        self.assertIn('已安装', c.notice())
        c.screenshot('installed')

        # Open: the demo reader records who it was started for.
        c.action('b1002', 'open').click()
        wait_for(lambda: 'user=' in opened_log(s.program), what='the reader')
        c.screenshot('opened')

        # A new edition is published; a refresh offers the upgrade.
        self.assertEqual(s.demo.publish('g1002'), 200)
        c.find('#refresh').click()
        c.wait_status('b1002', '可升级', timeout=60)
        c.screenshot('upgradable')
        c.start_work('b1002', 'upgrade')
        c.wait_status('b1002', '已安装', timeout=90)

        # Uninstall asks first; "cancel" keeps the book, "uninstall" removes it.
        c.action('b1002', 'uninstall').click()
        wait_for(lambda: c.visible('#confirm'), what='the confirmation')
        self.assertIn('语文', c.text('#confirm-text'))
        c.screenshot('confirm-uninstall')
        c.find('#confirm-no').click()
        self.assertFalse(c.visible('#confirm'))
        self.assertEqual(c.status_of('b1002'), '已安装')
        c.action('b1002', 'uninstall').click()
        wait_for(lambda: c.visible('#confirm'), what='the confirmation')
        c.find('#confirm-yes').click()
        c.wait_status('b1002', '未安装', timeout=30)
        self.assertFalse(os.path.exists(s.program.path('data', 'books', 'books', 'g1002', 'g1002',
                                                       'content')))

        # Sign out, and the other user sees only their own books.
        c.find('#sign-out').click()
        wait_for(lambda: c.visible('#sign-in-form'), what='the sign-in form')
        self.assertEqual(c.finds('#shelf li.book'), [])
        c.sign_in(*TEACHER)
        self.assertEqual(c.wait_shelf(len(TEACHER_BOOKS)), TEACHER_BOOKS)
        self.assertEqual(c.text('#user-name'), '王老师')
        wait_for(c.covers_loaded, what='the covers')
        c.screenshot('teacher-shelf')

        c.find('#quit').click()
        self.assertEqual(c.exit_status(), 0)

    def test_service_stopping_mid_download_leaves_a_book_that_downloads_again(self):
        work = self.session_dir()
        s = self.session('service_stops', ['--slow-ms', '100',
                                           '--extra-package', big_package(work, 24)])
        c = s.client()
        c.sign_in(*PUPIL)
        c.wait_shelf()
        wait_for(c.covers_loaded, what='the covers')
        c.wait_status('b1900', '未安装')
        c.start_work('b1900')
        wait_for(lambda: c.status_of('b1900') == '下载中', what='the download to start')
        c.screenshot('downloading')
        messages_before = c.message_log()
        s.demo.stop()

        c.wait_status('b1900', '未安装', timeout=180)
        wait_for(lambda: c.message_log() != messages_before, what="the client's message")
        self.assertIn('没有下载完成', c.notice())
        c.screenshot('download-failed')

        s.demo.restart()
        c.start_work('b1900')
        c.wait_status('b1900', '已安装', timeout=180)
        c.screenshot('downloaded-again')

    def test_killed_client_resumes_the_download_on_the_next_start(self):
        work = self.session_dir()
        s = self.session('killed_mid_download', ['--slow-ms', '100',
                                                 '--extra-package', big_package(work, 24)])
        c = s.client()
        c.sign_in(*PUPIL)
        c.wait_shelf()
        wait_for(c.covers_loaded, what='the covers')
        c.start_work('b1900')

        def percent():
            text = c.text('li.book[data-bsid="b1900"] .percent').rstrip('%')
            return int(text) if text.isdigit() else 0
        wait_for(lambda: percent() >= 10, timeout=60, what='10% of the download')
        c.screenshot('before-kill')
        c.kill()
        served_before = os.path.getsize(s.demo.access_log)

        c = s.client()
        c.sign_in(*PUPIL)
        c.wait_shelf()
        c.wait_status('b1900', '已安装', timeout=180)
        c.screenshot('resumed-and-installed')
        with open(s.demo.access_log) as f:
            f.seek(served_before)
            after = f.read()
        # The second start asked for the rest, not the whole package again.
        self.assertRegex(after, r'g1900\.zip.*bytes=[1-9]')

    def session_dir(self):
        import tempfile
        import shutil
        path = tempfile.mkdtemp(prefix='tomerack-e2e-pkg-')
        self.addCleanup(shutil.rmtree, path, True)
        return path


if __name__ == '__main__':
    unittest.main(verbosity=2)
