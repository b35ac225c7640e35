// The UI loop on GLib and the notification windows on GTK, for real under
// a private X server; the message box with its button sets as the user
// answers it.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/notification_windows_gtk.h"
#include "browser/gtk_frame.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "platform/ui_loop.h"
#include "platform/ui_loop_gtk.h"
#include "tests/support/sandbox.h"
#include "tests/support/xvfb.h"

namespace {


using Clock = std::chrono::steady_clock;

std::string Utf8(const std::string& gbk) {
  return platform::GbkToUtf8(gbk);
}

void Pump() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Turns the loop for about ms milliseconds.
void PumpFor(guint ms) {
  bool over = false;
  g_timeout_add(
      ms,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &over);
  while (!over) g_main_context_iteration(nullptr, TRUE);
}

bool PumpUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  return testing_support::WaitFor(
      [&] {
        Pump();
        return predicate();
      },
      timeout);
}

bool IsVisible(GtkWindow* window) {
  return window != nullptr && gtk_widget_get_visible(GTK_WIDGET(window));
}

struct Centre {
  int x;
  int y;
};

Centre CentreOf(GtkWindow* window) {
  int x = 0, y = 0, width = 0, height = 0;
  gtk_window_get_position(window, &x, &y);
  gtk_window_get_size(window, &width, &height);
  return {x + width / 2, y + height / 2};
}

void ExpectCentredAt(GtkWindow* window, Centre centre) {
  Centre actual = CentreOf(window);
  EXPECT_NEAR(actual.x, centre.x, 8);
  EXPECT_NEAR(actual.y, centre.y, 8);
}

// What the window shows on the screen now, read back from the X server.
GdkPixbuf* Grab(GtkWindow* window) {
  GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
  if (surface == nullptr || !gdk_window_is_viewable(surface)) return nullptr;
  return gdk_pixbuf_get_from_window(surface, 0, 0, gdk_window_get_width(surface),
                                    gdk_window_get_height(surface));
}

int CountPixels(GdkPixbuf* image, const std::function<bool(int r, int g, int b)>& match) {
  int count = 0;
  int channels = gdk_pixbuf_get_n_channels(image);
  int stride = gdk_pixbuf_get_rowstride(image);
  const guchar* pixels = gdk_pixbuf_read_pixels(image);
  for (int y = 0; y < gdk_pixbuf_get_height(image); ++y) {
    for (int x = 0; x < gdk_pixbuf_get_width(image); ++x) {
      const guchar* p = pixels + y * stride + x * channels;
      if (match(p[0], p[1], p[2])) ++count;
    }
  }
  return count;
}

bool SamePixels(GdkPixbuf* a, GdkPixbuf* b) {
  if (gdk_pixbuf_get_width(a) != gdk_pixbuf_get_width(b) ||
      gdk_pixbuf_get_height(a) != gdk_pixbuf_get_height(b)) {
    return false;
  }
  gsize size_a = gdk_pixbuf_get_byte_length(a), size_b = gdk_pixbuf_get_byte_length(b);
  const guint8* pa = gdk_pixbuf_read_pixels(a);
  const guint8* pb = gdk_pixbuf_read_pixels(b);
  return size_a == size_b && std::equal(pa, pa + size_a, pb);
}

class GtkTest : public testing_support::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    static bool ready = gtk_init_check(nullptr, nullptr);
    ASSERT_TRUE(ready);
    platform::InstallGtkUiLoop();
    unsetenv(platform::kMessageAnswerEnvironment);
    setenv(platform::kMessageLogEnvironment, Path("messages.txt").c_str(), 1);
  }
  void TearDown() override {
    Pump();
    platform::SetUiLoop({});
    unsetenv(platform::kMessageLogEnvironment);
    Sandbox::TearDown();
  }
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    if (!Exists("messages.txt")) return lines;
    std::istringstream text(ReadFile("messages.txt"));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
};

// --- The UI loop -----------------------------------------------------------

using UiLoopGtk = GtkTest;

TEST_F(UiLoopGtk, PostsRunLaterOnTheUiThreadInTheirOrder) {
  const std::thread::id ui = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<int> off_thread{0};
  bool from_ui_ran = false;
  platform::PostToUiThread([&] { from_ui_ran = true; });
  EXPECT_FALSE(from_ui_ran) << "a post from the UI thread ran in place";
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      platform::PostToUiThread([&, i] {
        if (std::this_thread::get_id() != ui || !platform::IsUiThread()) ++off_thread;
        order.push_back(i);
      });
    }
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return order.size() == 200 && from_ui_ran; }));
  EXPECT_EQ(off_thread.load(), 0);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(order[i], i);
}

TEST_F(UiLoopGtk, WaitTurnsTheLoopUntilTheWorkHasEnded) {
  const std::thread::id ui = std::this_thread::get_id();
  int ticks = 0;
  guint timer = g_timeout_add(
      20,
      [](gpointer count) -> gboolean {
        ++*static_cast<int*>(count);
        return G_SOURCE_CONTINUE;
      },
      &ticks);
  std::thread::id work_thread;
  bool work_ended = false;
  bool posted_ran_meanwhile = false;
  auto start = Clock::now();
  platform::RunKeepingUiAlive([&] {
    work_thread = std::this_thread::get_id();
    // Work that needs the UI thread's answer must get it during the wait.
    std::mutex lock;
    std::condition_variable answered;
    bool answer = false;
    platform::PostToUiThread([&] {
      std::lock_guard<std::mutex> hold(lock);
      answer = true;
      answered.notify_all();
    });
    {
      std::unique_lock<std::mutex> hold(lock);
      posted_ran_meanwhile =
          answered.wait_for(hold, std::chrono::seconds(10), [&] { return answer; });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    work_ended = true;
  });
  auto waited = Clock::now() - start;
  g_source_remove(timer);
  EXPECT_TRUE(work_ended);
  EXPECT_NE(work_thread, ui);
  EXPECT_TRUE(posted_ran_meanwhile);
  EXPECT_GE(waited, std::chrono::milliseconds(500));
  EXPECT_GE(ticks, 5) << "the 20 ms timer hardly ran during a 500 ms wait";
}

TEST_F(UiLoopGtk, NestedWaitsBothReturnAfterTheirWork) {
  bool outer_done = false, inner_done = false, outer_returned = false;
  bool inner_before_outer_return = false;
  // The inner wait starts inside the outer one and outlasts its work.
  platform::PostToUiThread([&] {
    platform::RunKeepingUiAlive([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      inner_done = true;
    });
    inner_before_outer_return = !outer_returned;
  });
  platform::RunKeepingUiAlive([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    outer_done = true;
  });
  outer_returned = true;
  EXPECT_TRUE(outer_done);
  EXPECT_TRUE(inner_done);
  EXPECT_TRUE(inner_before_outer_return);
}

TEST_F(UiLoopGtk, WaitOffTheUiThreadRunsTheWorkInPlace) {
  std::thread::id caller, runner;
  std::thread worker([&] {
    caller = std::this_thread::get_id();
    platform::RunKeepingUiAlive([&] { runner = std::this_thread::get_id(); });
  });
  worker.join();
  EXPECT_EQ(runner, caller);
}

// --- The tip window and the message box ------------------------------------

class NotificationWindowsGtk : public GtkTest {
 protected:
  void SetUp() override {
    GtkTest::SetUp();
    owner_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(owner_);
    gtk_window_set_default_size(owner_, 800, 600);
    gtk_window_move(owner_, 100, 80);
    gtk_widget_show(GTK_WIDGET(owner_));
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(owner_)); }));
    windows_ = factory_.CreateNotificationWindows(reinterpret_cast<uintptr_t>(owner_));
    gtk_windows_ = static_cast<GtkNotificationWindows*>(windows_.get());
  }
  void TearDown() override {
    windows_.reset();
    if (owner_ != nullptr) {
      gtk_widget_destroy(GTK_WIDGET(owner_));
      g_object_unref(owner_);
    }
    GtkTest::TearDown();
  }

  GtkNotificationFactory factory_;
  GtkWindow* owner_ = nullptr;
  std::unique_ptr<NotificationWindows> windows_;
  GtkNotificationWindows* gtk_windows_ = nullptr;
};

TEST_F(NotificationWindowsGtk, TipWindowIsOneWindowShowingTheNewestText) {
  windows_->ShowTip("正在卸载，请稍候...");
  GtkWindow* tip = gtk_windows_->tip_window();
  ASSERT_TRUE(IsVisible(tip));
  EXPECT_EQ(gtk_window_get_transient_for(tip), owner_);
  EXPECT_EQ(gtk_window_get_title(tip), Utf8("提示"));
  EXPECT_FALSE(gtk_window_get_modal(tip));
  ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(tip)); }));
  ExpectCentredAt(tip, CentreOf(owner_));

  windows_->ShowTip("second");
  EXPECT_EQ(gtk_windows_->tip_window(), tip);
  EXPECT_EQ(gtk_label_get_text(gtk_windows_->tip_label()), std::string("second"));
  windows_->HideTip();
  EXPECT_FALSE(IsVisible(tip));
  windows_->HideTip();  // already hidden: nothing more happens
  windows_->ShowTip("third");
  EXPECT_EQ(gtk_windows_->tip_window(), tip);
  EXPECT_TRUE(IsVisible(tip));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"[tip]\t" + Utf8("正在卸载，请稍候..."), "[tip]\tsecond",
                                      "[tip]\t(hidden)", "[tip]\tthird"}));
}

TEST_F(NotificationWindowsGtk, HidingBeforeAnyShowDoesNothing) {
  windows_->HideTip();
  windows_->HideMessageBox();
  Pump();
  EXPECT_EQ(gtk_windows_->tip_window(), nullptr);
  EXPECT_EQ(gtk_windows_->message_box(), nullptr);
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(NotificationWindowsGtk, ClosingOnlyHidesAndTheNextShowBringsTheWindowBack) {
  auto send_escape = [](GtkWindow* window) {
    GdkEvent* key = gdk_event_new(GDK_KEY_PRESS);
    key->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window))));
    key->key.keyval = GDK_KEY_Escape;
    gtk_widget_event(GTK_WIDGET(window), key);
    gdk_event_free(key);
  };
  struct Case {
    const char* name;
    bool message_box;
    std::function<void(GtkNotificationWindows&)> close;
    bool hides;
  } cases[] = {
      {"tip: window closed", false, [](auto& w) { gtk_window_close(w.tip_window()); }, true},
      {"tip: Escape", false, [&](auto& w) { send_escape(w.tip_window()); }, false},
      {"box: window closed", true, [](auto& w) { gtk_window_close(w.message_box()); }, true},
      {"box: Escape", true, [&](auto& w) { send_escape(w.message_box()); }, true},
      {"box: OK", true, [](auto& w) { gtk_button_clicked(w.message_button()); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto show = [&] {
      if (c.message_box) {
        windows_->ShowMessageBox("text", 0);
      } else {
        windows_->ShowTip("text");
      }
    };
    auto window = [&] {
      return c.message_box ? gtk_windows_->message_box() : gtk_windows_->tip_window();
    };
    show();
    GtkWindow* first = window();
    ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(first)); }));
    c.close(*gtk_windows_);
    PumpFor(100);
    EXPECT_EQ(window(), first);
    EXPECT_EQ(IsVisible(first), !c.hides);
    show();
    EXPECT_EQ(window(), first);
    EXPECT_TRUE(IsVisible(first));
  }
}

TEST_F(NotificationWindowsGtk, MessageBoxClosesByItselfOnlyAfterAShowWithAnAutoCloseTime) {
  struct Case {
    const char* name;
    std::vector<uint32_t> shows;  // auto-close times of the shows, in order
    bool closes_by_itself;
  } cases[] = {
      {"auto-close", {300}, true},
      {"no auto-close", {0}, false},
      {"a later show without it cancels it", {300, 0}, false},
      {"a later show restarts it", {300, 60000}, false},
      {"a later show brings it", {0, 300}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    windows_ = factory_.CreateNotificationWindows(reinterpret_cast<uintptr_t>(owner_));
    gtk_windows_ = static_cast<GtkNotificationWindows*>(windows_.get());
    for (size_t i = 0; i < c.shows.size(); ++i) {
      windows_->ShowMessageBox("message " + std::to_string(i), c.shows[i]);
    }
    GtkWindow* box = gtk_windows_->message_box();
    ASSERT_TRUE(IsVisible(box));
    EXPECT_EQ(gtk_label_get_text(gtk_windows_->message_label()),
              "message " + std::to_string(c.shows.size() - 1));
    if (c.closes_by_itself) {
      EXPECT_TRUE(PumpUntil([&] { return !IsVisible(box); }));
      EXPECT_EQ(LogLines().back(), "[messagebox]\t(hidden)");
    } else {
      PumpFor(1000);
      EXPECT_TRUE(IsVisible(box));
    }
    std::remove(Path("messages.txt").c_str());
  }
}

TEST_F(NotificationWindowsGtk, GoingWithAnAutoClosePendingIsSafe) {
  windows_->ShowMessageBox("text", 50);
  windows_.reset();
  PumpFor(300);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"[messagebox]\ttext"});
}

TEST_F(NotificationWindowsGtk, TextsAreRedAtTheirPointSizes) {
  struct Case {
    const char* name;
    std::function<void()> show;
    std::function<GtkWindow*()> window;
    std::function<GtkLabel*()> label;
    std::function<void()> hide;
    int points;
  } cases[] = {
      {"tip", [&] { windows_->ShowTip("红色的提示"); }, [&] { return gtk_windows_->tip_window(); },
       [&] { return gtk_windows_->tip_label(); }, [&] { windows_->HideTip(); }, 24},
      {"message box", [&] { windows_->ShowMessageBox("红色的消息", 0); },
       [&] { return gtk_windows_->message_box(); }, [&] { return gtk_windows_->message_label(); },
       [&] { windows_->HideMessageBox(); }, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.show();
    bool red = false;
    int size = 0;
    PangoAttrList* attributes = gtk_label_get_attributes(c.label());
    ASSERT_NE(attributes, nullptr);
    PangoAttrIterator* it = pango_attr_list_get_iterator(attributes);
    if (auto* colour =
            reinterpret_cast<PangoAttrColor*>(pango_attr_iterator_get(it, PANGO_ATTR_FOREGROUND))) {
      red = colour->color.red == 0xFFFF && colour->color.green == 0 && colour->color.blue == 0;
    }
    if (auto* points =
            reinterpret_cast<PangoAttrInt*>(pango_attr_iterator_get(it, PANGO_ATTR_SIZE))) {
      size = points->value;
    }
    pango_attr_iterator_destroy(it);
    EXPECT_TRUE(red);
    EXPECT_EQ(size, c.points * PANGO_SCALE);

    // And on the screen (the windows share the middle of the owner, so one
    // at a time).
    EXPECT_TRUE(PumpUntil([&] {
      GdkPixbuf* image = Grab(c.window());
      if (image == nullptr) return false;
      int red_pixels =
          CountPixels(image, [](int r, int g, int b) { return r > 200 && g < 80 && b < 80; });
      g_object_unref(image);
      return red_pixels > 20;
    }));
    c.hide();
  }
}

TEST_F(NotificationWindowsGtk, WithoutAKnownOwnerTheWindowsAreCentredOnTheScreen) {
  GdkRectangle screen{};
  gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &screen);
  for (uintptr_t handle : {uintptr_t{0}, uintptr_t{0x1234}}) {
    SCOPED_TRACE(handle);
    auto windows = factory_.CreateNotificationWindows(handle);
    auto* gtk = static_cast<GtkNotificationWindows*>(windows.get());
    windows->ShowTip("tip");
    windows->ShowMessageBox("box", 0);
    for (GtkWindow* window : {gtk->tip_window(), gtk->message_box()}) {
      EXPECT_EQ(gtk_window_get_transient_for(window), nullptr);
      ASSERT_TRUE(PumpUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(window)); }));
      ExpectCentredAt(window, {screen.x + screen.width / 2, screen.y + screen.height / 2});
    }
  }
}

// --- The top-most tip -------------------------------------------------------

class TopTipGtk : public GtkTest {
 protected:
  void TearDown() override {
    top_tip_.Hide();
    GtkTest::TearDown();
  }
  GtkTopTipWindow top_tip_;
};

TEST_F(TopTipGtk, UpdateWithoutATipShowsOneAboveEverythingInTheScreenCentre) {
  EXPECT_FALSE(top_tip_.IsShown());
  top_tip_.Update("正在登录，请稍候...");
  ASSERT_TRUE(top_tip_.IsShown());
  GtkWindow* window = top_tip_.window();
  EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(window))) << "shown only after the call";
  EXPECT_EQ(gtk_label_get_text(top_tip_.label()), Utf8("正在登录，请稍候..."));
  EXPECT_EQ(gtk_window_get_title(window), Utf8("提示"));
  EXPECT_EQ(gtk_window_get_transient_for(window), nullptr);
  EXPECT_TRUE(gdk_window_get_state(gtk_widget_get_window(GTK_WIDGET(window))) &
              GDK_WINDOW_STATE_ABOVE);
  GdkRectangle screen{};
  gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &screen);
  ExpectCentredAt(window, {screen.x + screen.width / 2, screen.y + screen.height / 2});
  EXPECT_EQ(LogLines(), std::vector<std::string>{"[toptip]\t" + Utf8("正在登录，请稍候...")});
}

TEST_F(TopTipGtk, HideWithoutATipDoesNothingAndHideEndsTheTip) {
  top_tip_.Hide();
  EXPECT_FALSE(top_tip_.IsShown());
  EXPECT_TRUE(LogLines().empty());
  top_tip_.Show("tip");
  top_tip_.Hide();
  EXPECT_FALSE(top_tip_.IsShown());
  EXPECT_EQ(top_tip_.window(), nullptr);
  top_tip_.Hide();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[toptip]\ttip", "[toptip]\t(hidden)"}));
}

TEST_F(TopTipGtk, ShowMakesAFreshWindowAndUpdateKeepsIt) {
  top_tip_.Show("first");
  GtkWindow* first = top_tip_.window();
  bool first_destroyed = false;
  g_signal_connect(first, "destroy",
                   G_CALLBACK(+[](GtkWidget*, gpointer flag) { *static_cast<bool*>(flag) = true; }),
                   &first_destroyed);
  top_tip_.Update("first, updated");
  EXPECT_EQ(top_tip_.window(), first);
  EXPECT_FALSE(first_destroyed);
  top_tip_.Show("second");
  EXPECT_TRUE(first_destroyed);
  ASSERT_TRUE(top_tip_.IsShown());
  EXPECT_TRUE(gtk_widget_get_mapped(GTK_WIDGET(top_tip_.window())));
  EXPECT_EQ(gtk_label_get_text(top_tip_.label()), std::string("second"));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"[toptip]\tfirst", "[toptip]\tfirst, updated",
                                                  "[toptip]\tsecond"}));
}

// The exit sequence blocks right after its updates: the text must already be
// on the screen when they return, without the loop turning afterwards.
TEST_F(TopTipGtk, TheTextIsOnTheScreenWhenShowAndUpdateReturn) {
  top_tip_.Show("正在退出数字教材，请稍候...");
  GdkPixbuf* shown = Grab(top_tip_.window());
  ASSERT_NE(shown, nullptr) << "not on the screen after Show";
  EXPECT_GT(CountPixels(shown, [](int r, int g, int b) { return r + g + b < 200; }), 20)
      << "no text drawn after Show";
  top_tip_.Update("正在退出数字教材，请稍候..........还有一行完全不同的文字");
  GdkPixbuf* updated = Grab(top_tip_.window());
  ASSERT_NE(updated, nullptr);
  EXPECT_FALSE(SamePixels(shown, updated)) << "the new text was not drawn before Update returned";
  g_object_unref(shown);
  g_object_unref(updated);
}

// --- The GTK message box ----------------------------------------------------

class MessageBoxGtk : public GtkTest {
 protected:
  void SetUp() override {
    GtkTest::SetUp();
    unsetenv(platform::kMessageLogEnvironment);
    InstallGtkMessageBox();
  }
  void TearDown() override {
    platform::SetMessageBoxHandler(nullptr);
    GtkTest::TearDown();
  }
};

// IDOK, IDCANCEL, IDYES, IDNO: in each button set, the order of its buttons.
constexpr int kAnswerIds[] = {1, 2, 6, 7};

GtkDialog* ShownMessageDialog() {
  GtkDialog* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data)))
      found = GTK_DIALOG(item->data);
  }
  g_list_free(windows);
  return found;
}

TEST_F(MessageBoxGtk, ButtonSetsAnswerWithTheirWindowsIds) {
  constexpr int kClose = 0;  // the window's close button instead of a button
  struct Case {
    int type;
    std::vector<const char*> buttons;  // labels, in the order of their answers
    std::vector<int> presses;          // answer ids to press, or kClose
    int answer;
  } cases[] = {
      {0x00, {"确定"}, {1}, 1},
      {0x40, {"确定"}, {kClose}, 1},
      {0x01, {"确定", "取消"}, {2}, 2},
      {0x01, {"确定", "取消"}, {kClose}, 2},
      {0x04, {"是", "否"}, {6}, 6},
      {0x24, {"是", "否"}, {7}, 7},
      {0x04, {"是", "否"}, {kClose, 7}, 7},  // cannot be closed without an answer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    struct Driver {
      const Case* c = nullptr;
      std::vector<std::string> labels;
      std::string title;
      bool first_is_default = false;
      size_t next = 0;
      int ticks = 0;
      bool gave_up = false;
    } driver;
    driver.c = &c;
    guint timer = g_timeout_add(
        50,
        [](gpointer data) -> gboolean {
          auto& d = *static_cast<Driver*>(data);
          GtkDialog* dialog = ShownMessageDialog();
          if (++d.ticks > 200 && dialog != nullptr) {
            d.gave_up = true;
            gtk_widget_destroy(GTK_WIDGET(dialog));
            return G_SOURCE_CONTINUE;
          }
          if (dialog == nullptr || d.next >= d.c->presses.size()) return G_SOURCE_CONTINUE;
          if (d.next == 0) {
            d.title = gtk_window_get_title(GTK_WINDOW(dialog));
            for (int answer : kAnswerIds) {
              GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, answer);
              if (button == nullptr) continue;
              if (d.labels.empty()) d.first_is_default = gtk_widget_has_default(button);
              d.labels.push_back(gtk_button_get_label(GTK_BUTTON(button)));
            }
          }
          int press = d.c->presses[d.next++];
          if (press == kClose) {
            gtk_window_close(GTK_WINDOW(dialog));
          } else if (GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, press)) {
            gtk_button_clicked(GTK_BUTTON(button));
          }
          return G_SOURCE_CONTINUE;
        },
        &driver);
    int answer = platform::ShowMessageBox(0, "问题", "标题", c.type);
    g_source_remove(timer);
    EXPECT_FALSE(driver.gave_up);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(driver.next, c.presses.size());
    EXPECT_EQ(driver.title, Utf8("标题"));
    std::vector<std::string> expected;
    for (const char* label : c.buttons) expected.push_back(Utf8(label));
    EXPECT_EQ(driver.labels, expected);
    EXPECT_TRUE(driver.first_is_default);
    Pump();
  }
}

}  // namespace
