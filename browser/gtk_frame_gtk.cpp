#include <algorithm>
#include <set>
#include <vector>

#include "browser/gtk_frame.h"
#include "platform/codepage.h"
#include "platform/message_box.h"

namespace {

// The plain window's buttons in their order on the tool row.
struct ButtonSpec {
  int id;
  const char* label;
};
constexpr ButtonSpec kButtons[] = {
    {kButtonBack, "后退"},    {kButtonForward, "前进"}, {kButtonStop, "停止"},
    {kButtonRefresh, "刷新"}, {kButtonHome, "主页"},    {kButtonSearch, "搜索"},
};
constexpr const char kBrowseLabel[] = "浏览...";

// Window size of the browser dialog template, in pixels.
constexpr int kDefaultWidth = 1024;
constexpr int kDefaultHeight = 710;

// Frames alive now, by serial: a posted close request finds its window only
// while it exists.
std::map<unsigned, GtkWindowFrame*>& LiveFrames() {
  static std::map<unsigned, GtkWindowFrame*> frames;
  return frames;
}
unsigned g_next_serial = 1;

std::string Utf8(const std::string& gbk) {
  return platform::GbkToUtf8(gbk);
}

struct ButtonBinding {
  WindowFrameEvents* events;
  int id;
};

void OnButtonClicked(GtkButton*, gpointer data) {
  auto* binding = static_cast<ButtonBinding*>(data);
  binding->events->OnButton(binding->id);
}

// A tool-row button that reports its id; the binding lives as long as the
// button's signal.
void AddButton(GtkWidget* row, const char* label_gbk, int id, WindowFrameEvents& events) {
  GtkWidget* button = gtk_button_new_with_label(Utf8(label_gbk).c_str());
  g_signal_connect_data(
      button, "clicked", G_CALLBACK(OnButtonClicked), new ButtonBinding{&events, id},
      [](gpointer data, GClosure*) { delete static_cast<ButtonBinding*>(data); }, GConnectFlags(0));
  gtk_box_pack_start(GTK_BOX(row), button, FALSE, FALSE, 0);
}

void OnAddressActivate(GtkEntry*, gpointer data) {
  static_cast<WindowFrameEvents*>(data)->OnAddressEnter();
}

GtkMessageType MessageTypeOf(int type) {
  switch (type & 0xF0) {
    case 0x10:
      return GTK_MESSAGE_ERROR;
    case 0x20:
      return GTK_MESSAGE_QUESTION;
    case 0x30:
      return GTK_MESSAGE_WARNING;
    default:
      return GTK_MESSAGE_INFO;
  }
}

const char* ButtonLabel(int answer) {
  switch (answer) {
    case kMessageBoxAnswerCancel:
      return "取消";
    case kMessageBoxAnswerYes:
      return "是";
    case kMessageBoxAnswerNo:
      return "否";
    default:
      return "确定";
  }
}

// The buttons answer with their Windows ID as the response. Closing the box
// (the window's close button, Escape) answers Cancel, or OK where that is the
// only button; a Yes/No box cannot be closed without an answer.
// Message boxes running now, with the answer each gives when the program
// ends them; and whether it does (then no new box runs at all).
struct RunningBox {
  GtkDialog* dialog;
  int dismiss_answer;
};
std::vector<RunningBox>& RunningBoxes() {
  static std::vector<RunningBox> boxes;
  return boxes;
}
bool g_boxes_ended = false;

// The answer that changes nothing: Cancel or No where the box has it.
int DismissAnswer(const std::vector<int>& buttons) {
  for (int answer : {kMessageBoxAnswerCancel, kMessageBoxAnswerNo}) {
    if (std::find(buttons.begin(), buttons.end(), answer) != buttons.end()) return answer;
  }
  return buttons.front();
}

int RunGtkMessageBox(GtkWindow* parent, const std::string& text, const std::string& caption,
                     int type) {
  std::vector<int> buttons = platform::MessageBoxButtons(type);
  if (g_boxes_ended) return DismissAnswer(buttons);
  GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, MessageTypeOf(type),
                                             GTK_BUTTONS_NONE, "%s", Utf8(text).c_str());
  g_object_ref_sink(dialog);  // it may be destroyed from elsewhere while it runs
  gtk_window_set_title(GTK_WINDOW(dialog), Utf8(caption).c_str());
  for (int answer : buttons) {
    gtk_dialog_add_button(GTK_DIALOG(dialog), Utf8(ButtonLabel(answer)).c_str(), answer);
  }
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), buttons.front());
  int on_close = buttons.size() == 1 ? buttons.front() : kMessageBoxAnswerCancel;
  bool closable = std::find(buttons.begin(), buttons.end(), on_close) != buttons.end();
  if (!closable) {
    // A close still makes the dialog report its delete-event response; the
    // handler keeps the window, and the loop below asks again.
    gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(gtk_true), nullptr);
    on_close = buttons.back();  // the dialog went away by other means
  }
  int response = GTK_RESPONSE_NONE;
  RunningBoxes().push_back({GTK_DIALOG(dialog), DismissAnswer(buttons)});
  do {
    response = gtk_dialog_run(GTK_DIALOG(dialog));
  } while (!closable && response == GTK_RESPONSE_DELETE_EVENT && !g_boxes_ended);
  auto& running = RunningBoxes();
  running.erase(std::remove_if(running.begin(), running.end(),
                               [&](const RunningBox& box) { return box.dialog == GTK_DIALOG(dialog); }),
                running.end());
  gtk_widget_destroy(dialog);
  g_object_unref(dialog);
  bool is_button = std::find(buttons.begin(), buttons.end(), response) != buttons.end();
  return is_button ? response : on_close;
}

}  // namespace

struct GtkWindowFrame::Timer {
  GtkWindowFrame* frame;
  int id;
};

GtkWindowFrame::GtkWindowFrame(WindowFrameEvents& events, WebBrowserEvents& browser_events)
    : events_(events) {
  serial_ = g_next_serial++;
  LiveFrames()[serial_] = this;
  window_ = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  g_object_ref_sink(window_);
  control_ = std::make_unique<WebKitBrowserControl>();
  control_->SetEvents(&browser_events);
  gtk_window_set_default_size(window_, kDefaultWidth, kDefaultHeight);
  gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  tool_row_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  for (const ButtonSpec& spec : kButtons) AddButton(tool_row_, spec.label, spec.id, events_);
  address_ = gtk_entry_new();
  g_signal_connect(address_, "activate", G_CALLBACK(OnAddressActivate), &events_);
  gtk_box_pack_start(GTK_BOX(tool_row_), address_, TRUE, TRUE, 0);
  AddButton(tool_row_, kBrowseLabel, kButtonBrowse, events_);

  status_row_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  status_ = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(status_), 0);
  gtk_label_set_ellipsize(GTK_LABEL(status_), PANGO_ELLIPSIZE_END);
  spinner_ = gtk_spinner_new();
  gtk_box_pack_start(GTK_BOX(status_row_), status_, TRUE, TRUE, 2);
  gtk_box_pack_end(GTK_BOX(status_row_), spinner_, FALSE, FALSE, 2);

  gtk_box_pack_start(GTK_BOX(column), tool_row_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(column), control_->widget(), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(column), status_row_, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window_), column);
  gtk_widget_show_all(column);
}

GtkWindowFrame::~GtkWindowFrame() {
  LiveFrames().erase(serial_);
  StopTimers();
  EndModal();
  control_->SetEvents(nullptr);
  g_signal_handlers_disconnect_by_data(window_, this);
  gtk_widget_destroy(GTK_WIDGET(window_));
  control_.reset();
  g_object_unref(window_);
}

void GtkWindowFrame::SetTitle(const std::string& title) {
  gtk_window_set_title(window_, Utf8(title).c_str());
}

std::string GtkWindowFrame::title() const {
  const char* text = gtk_window_get_title(window_);
  return text != nullptr ? platform::Utf8ToGbk(text) : std::string();
}

void GtkWindowFrame::SetStatusText(const std::string& text) {
  gtk_label_set_text(GTK_LABEL(status_), Utf8(text).c_str());
}

std::string GtkWindowFrame::GetAddressText() const {
  return platform::Utf8ToGbk(gtk_entry_get_text(GTK_ENTRY(address_)));
}

void GtkWindowFrame::SetAddressText(const std::string& text) {
  gtk_entry_set_text(GTK_ENTRY(address_), Utf8(text).c_str());
}

bool GtkWindowFrame::SetIconFromFile(const std::string& path) {
  GError* error = nullptr;
  gboolean ok = gtk_window_set_icon_from_file(window_, Utf8(path).c_str(), &error);
  if (error != nullptr) g_error_free(error);
  return ok;
}

void GtkWindowFrame::SetBusy(bool playing) {
  if (playing) {
    gtk_spinner_start(GTK_SPINNER(spinner_));
  } else {
    gtk_spinner_stop(GTK_SPINNER(spinner_));
  }
}

void GtkWindowFrame::SetControlsVisible(bool visible) {
  gtk_widget_set_visible(tool_row_, visible);
  gtk_widget_set_visible(status_row_, visible);
}

void GtkWindowFrame::Show() {
  gtk_window_present(window_);
}
void GtkWindowFrame::Hide() {
  gtk_widget_hide(GTK_WIDGET(window_));
}
bool GtkWindowFrame::IsVisible() const {
  return gtk_widget_get_visible(GTK_WIDGET(window_));
}
void GtkWindowFrame::Minimize() {
  gtk_window_iconify(window_);
}
void GtkWindowFrame::Maximize() {
  gtk_window_maximize(window_);
}

WindowRect GtkWindowFrame::GetRect() const {
  int x = 0, y = 0, width = 0, height = 0;
  gtk_window_get_position(window_, &x, &y);
  gtk_window_get_size(window_, &width, &height);
  return WindowRect{x, y, x + width - 1, y + height - 1};
}

void GtkWindowFrame::GetScreenSize(int& width, int& height) const {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display != nullptr ? gdk_display_get_primary_monitor(display) : nullptr;
  if (monitor == nullptr && display != nullptr) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area{0, 0, kDefaultWidth, kDefaultHeight};
  if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &area);
  width = area.width;
  height = area.height;
}

void GtkWindowFrame::SetRect(int x, int y, int width, int height) {
  gtk_window_move(window_, x, y);
  gtk_window_resize(window_, width > 0 ? width : 1, height > 0 ? height : 1);
  gtk_widget_show(GTK_WIDGET(window_));
}

gboolean GtkWindowFrame::OnTimer(gpointer data) {
  auto* timer = static_cast<Timer*>(data);
  timer->frame->events_.OnTimer(timer->id);
  return G_SOURCE_CONTINUE;
}

void GtkWindowFrame::StartTimer(int timer_id, int period_ms) {
  auto old = timers_.find(timer_id);
  if (old != timers_.end()) g_source_remove(old->second);
  auto* timer = new Timer{this, timer_id};
  timers_[timer_id] =
      g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(period_ms), OnTimer, timer,
                         [](gpointer data) { delete static_cast<Timer*>(data); });
}

void GtkWindowFrame::StopTimers() {
  for (auto& [id, source] : timers_) g_source_remove(source);
  timers_.clear();
}

void GtkWindowFrame::PostCloseRequest() {
  unsigned serial = serial_;
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto found = LiveFrames().find(GPOINTER_TO_UINT(data));
        if (found != LiveFrames().end()) found->second->events_.OnCloseRequest();
        return G_SOURCE_REMOVE;
      },
      GUINT_TO_POINTER(serial), nullptr);
}

gboolean GtkWindowFrame::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
  // Closing is the window's decision, made later on a clean stack.
  static_cast<GtkWindowFrame*>(self)->PostCloseRequest();
  return TRUE;
}

gboolean GtkWindowFrame::OnKeyPress(GtkWidget*, GdkEventKey* key, gpointer self) {
  auto* frame = static_cast<GtkWindowFrame*>(self);
  bool control_down = (key->state & GDK_CONTROL_MASK) != 0;
  return frame->control_->FilterKey(key->keyval, control_down) ? TRUE : FALSE;
}

void GtkWindowFrame::RunModal() {
  if (modal_loop_ != nullptr) return;
  modal_loop_ = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(modal_loop_);
  g_main_loop_unref(modal_loop_);
  modal_loop_ = nullptr;
}

void GtkWindowFrame::EndModal() {
  if (modal_loop_ != nullptr) g_main_loop_quit(modal_loop_);
}

int GtkWindowFrame::MessageBox(const std::string& text, const std::string& caption, int type) {
  return platform::ShowMessageBox(handle(), text, caption, type);
}

std::unique_ptr<WindowFrame> GtkWindowFrameFactory::CreateFrame(WindowFrameEvents& events,
                                                                WebBrowserEvents& browser_events) {
  return std::make_unique<GtkWindowFrame>(events, browser_events);
}

void EndMessageBoxes() {
  g_boxes_ended = true;
  // Each box's loop returns with its dismiss answer once the main loop turns.
  for (const RunningBox& box : RunningBoxes()) gtk_dialog_response(box.dialog, box.dismiss_answer);
}

void InstallGtkMessageBox() {
  platform::SetMessageBoxHandler(
      [](uintptr_t parent, const std::string& text, const std::string& caption, int type) {
        GtkWindow* owner = nullptr;
        for (auto& [serial, frame] : LiveFrames()) {
          if (frame->handle() == parent) owner = frame->window();
        }
        return RunGtkMessageBox(owner, text, caption, type);
      });
}
