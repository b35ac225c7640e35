#include "app/notification_windows_gtk.h"

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace {

// Captions of the windows' lines in the message log.
constexpr const char kTipLog[] = "[tip]";
constexpr const char kMessageBoxLog[] = "[messagebox]";
constexpr const char kTopTipLog[] = "[toptip]";
constexpr const char kHiddenLog[] = "(hidden)";

constexpr const char kOkLabel[] = "确定";

// Sizes in pixels of the dialog templates at the usual dialog font.
constexpr int kTipWidth = 520;
constexpr int kTipHeight = 320;
constexpr int kTipPoints = 24;
constexpr int kTextMargin = 18;  // left and right of the text
constexpr int kMessageTextTop = 20;
constexpr int kMessageTextWidth = 424;
constexpr int kMessageTextHeight = 140;
constexpr int kMessagePoints = 12;
constexpr int kButtonGap = 16;
constexpr int kButtonWidth = 93;
constexpr int kButtonHeight = 28;
constexpr int kButtonBottom = 21;
constexpr int kTopTipTextTop = 29;
constexpr int kTopTipTextWidth = 428;
constexpr int kTopTipTextHeight = 159;
constexpr int kTopTipTextBottom = 44;  // where the hidden button would be

// How long a top-most tip waits for its window to draw before giving up.
constexpr guint kPaintLimitMs = 250;

std::string Utf8(const std::string& gbk) {
  return platform::GbkToUtf8(gbk);
}

// A top-level window of the notification kind: titled, fixed in size, not
// modal and not taking the focus from the window the user works in.
GtkWidget* NewNoticeWindow(GtkWindow* owner) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(window);
  GtkWindow* as_window = GTK_WINDOW(window);
  gtk_window_set_title(as_window, Utf8(kNotificationCaption).c_str());
  gtk_window_set_resizable(as_window, FALSE);
  gtk_window_set_type_hint(as_window, GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_focus_on_map(as_window, FALSE);
  if (owner != nullptr) {
    gtk_window_set_transient_for(as_window, owner);
    gtk_window_set_position(as_window, GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(as_window, GTK_WIN_POS_CENTER);
  }
  return window;
}

// A centred, wrapped text in an area of fixed size; a text too long for the
// area is cut off there instead of growing the window.
GtkWidget* NewTextArea(int width, int height, GtkLabel*& label) {
  GtkWidget* area = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(area), GTK_POLICY_EXTERNAL,
                                 GTK_POLICY_EXTERNAL);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(area), GTK_SHADOW_NONE);
  gtk_widget_set_size_request(area, width, height);
  GtkWidget* text = gtk_label_new("");
  gtk_label_set_line_wrap(GTK_LABEL(text), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(text), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_justify(GTK_LABEL(text), GTK_JUSTIFY_CENTER);
  gtk_label_set_xalign(GTK_LABEL(text), 0.5f);
  gtk_label_set_yalign(GTK_LABEL(text), 0.5f);
  gtk_widget_set_hexpand(text, TRUE);
  gtk_widget_set_vexpand(text, TRUE);
  gtk_container_add(GTK_CONTAINER(area), text);
  gtk_viewport_set_shadow_type(GTK_VIEWPORT(gtk_bin_get_child(GTK_BIN(area))), GTK_SHADOW_NONE);
  label = GTK_LABEL(text);
  return area;
}

void SetRedText(GtkLabel* label, int points) {
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(attributes, pango_attr_foreground_new(0xFFFF, 0, 0));
  pango_attr_list_insert(attributes, pango_attr_size_new(points * PANGO_SCALE));
  gtk_label_set_attributes(label, attributes);
  pango_attr_list_unref(attributes);
}

bool IsShown(const GtkWindowPtr& window) {
  return window != nullptr && gtk_widget_get_visible(window.get());
}

}  // namespace

void GtkWindowDeleter::operator()(GtkWidget* window) const {
  gtk_widget_destroy(window);
  g_object_unref(window);
}

GtkNotificationWindows::GtkNotificationWindows(uintptr_t owner_handle)
    : owner_handle_(owner_handle) {}

GtkNotificationWindows::~GtkNotificationWindows() {
  StopAutoClose();
  if (tip_) g_signal_handlers_disconnect_by_data(tip_.get(), this);
  if (message_) g_signal_handlers_disconnect_by_data(message_.get(), this);
}

GtkWindow* GtkNotificationWindows::tip_window() const {
  return tip_ ? GTK_WINDOW(tip_.get()) : nullptr;
}

GtkWindow* GtkNotificationWindows::message_box() const {
  return message_ ? GTK_WINDOW(message_.get()) : nullptr;
}

// The handle is compared with the program's windows, never followed: the
// owner may be gone by the time a window is first needed.
GtkWindow* GtkNotificationWindows::FindOwner() const {
  if (owner_handle_ == 0) return nullptr;
  GtkWindow* owner = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item != nullptr; item = item->next) {
    if (reinterpret_cast<uintptr_t>(item->data) == owner_handle_) owner = GTK_WINDOW(item->data);
  }
  g_list_free(windows);
  return owner;
}

void GtkNotificationWindows::CreateTip() {
  tip_.reset(NewNoticeWindow(FindOwner()));
  GtkWidget* area = NewTextArea(kTipWidth, kTipHeight, tip_label_);
  SetRedText(tip_label_, kTipPoints);
  gtk_container_add(GTK_CONTAINER(tip_.get()), area);
  gtk_widget_show_all(area);
  g_signal_connect(tip_.get(), "delete-event", G_CALLBACK(OnTipDelete), this);
}

void GtkNotificationWindows::CreateMessageBox() {
  message_.reset(NewNoticeWindow(FindOwner()));
  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* area = NewTextArea(kMessageTextWidth, kMessageTextHeight, message_label_);
  SetRedText(message_label_, kMessagePoints);
  gtk_widget_set_margin_start(area, kTextMargin);
  gtk_widget_set_margin_end(area, kTextMargin);
  gtk_widget_set_margin_top(area, kMessageTextTop);
  GtkWidget* button = gtk_button_new_with_label(Utf8(kOkLabel).c_str());
  gtk_widget_set_size_request(button, kButtonWidth, kButtonHeight);
  gtk_widget_set_halign(button, GTK_ALIGN_CENTER);
  gtk_widget_set_margin_top(button, kButtonGap);
  gtk_widget_set_margin_bottom(button, kButtonBottom);
  message_button_ = GTK_BUTTON(button);
  g_signal_connect(button, "clicked", G_CALLBACK(OnMessageButton), this);
  gtk_box_pack_start(GTK_BOX(column), area, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(column), button, FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(message_.get()), column);
  gtk_widget_show_all(column);
  g_signal_connect(message_.get(), "delete-event", G_CALLBACK(OnMessageDelete), this);
  g_signal_connect(message_.get(), "key-press-event", G_CALLBACK(OnMessageKey), this);
}

void GtkNotificationWindows::ShowTip(const std::string& text) {
  if (!tip_) CreateTip();
  gtk_label_set_text(tip_label_, Utf8(text).c_str());
  platform::AppendMessageLog(kTipLog, text);
  gtk_widget_show(tip_.get());
}

void GtkNotificationWindows::HideTip() {
  if (!IsShown(tip_)) return;
  gtk_widget_hide(tip_.get());
  platform::AppendMessageLog(kTipLog, kHiddenLog);
}

void GtkNotificationWindows::ShowMessageBox(const std::string& text, uint32_t auto_close_ms) {
  if (!message_) CreateMessageBox();
  gtk_label_set_text(message_label_, Utf8(text).c_str());
  StopAutoClose();
  if (auto_close_ms > 0) auto_close_ = g_timeout_add(auto_close_ms, OnAutoClose, this);
  platform::AppendMessageLog(kMessageBoxLog, text);
  gtk_widget_show(message_.get());
}

void GtkNotificationWindows::HideMessageBox() {
  StopAutoClose();
  if (!IsShown(message_)) return;
  gtk_widget_hide(message_.get());
  platform::AppendMessageLog(kMessageBoxLog, kHiddenLog);
}

void GtkNotificationWindows::StopAutoClose() {
  if (auto_close_ != 0) g_source_remove(auto_close_);
  auto_close_ = 0;
}

gboolean GtkNotificationWindows::OnAutoClose(gpointer self) {
  auto* windows = static_cast<GtkNotificationWindows*>(self);
  windows->auto_close_ = 0;
  windows->HideMessageBox();
  return G_SOURCE_REMOVE;
}

void GtkNotificationWindows::OnMessageButton(GtkButton*, gpointer self) {
  static_cast<GtkNotificationWindows*>(self)->HideMessageBox();
}

// Closing either window only hides it; it is shown again on the next show.
gboolean GtkNotificationWindows::OnTipDelete(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<GtkNotificationWindows*>(self)->HideTip();
  return TRUE;
}

gboolean GtkNotificationWindows::OnMessageDelete(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<GtkNotificationWindows*>(self)->HideMessageBox();
  return TRUE;
}

// Escape is the box's Cancel, which hides it.
gboolean GtkNotificationWindows::OnMessageKey(GtkWidget*, GdkEventKey* key, gpointer self) {
  if (key->keyval != GDK_KEY_Escape) return FALSE;
  static_cast<GtkNotificationWindows*>(self)->HideMessageBox();
  return TRUE;
}

GtkTopTipWindow::~GtkTopTipWindow() {
  if (window_) g_signal_handlers_disconnect_by_data(label_, this);
}

void GtkTopTipWindow::Show(const std::string& text) {
  if (window_) g_signal_handlers_disconnect_by_data(label_, this);
  window_.reset(NewNoticeWindow(nullptr));
  GtkWindow* window = GTK_WINDOW(window_.get());
  gtk_window_set_accept_focus(window, FALSE);
  gtk_window_set_keep_above(window, TRUE);
  GtkWidget* area = NewTextArea(kTopTipTextWidth, kTopTipTextHeight, label_);
  gtk_widget_set_margin_start(area, kTextMargin);
  gtk_widget_set_margin_end(area, kTextMargin);
  gtk_widget_set_margin_top(area, kTopTipTextTop);
  gtk_widget_set_margin_bottom(area, kTopTipTextBottom);
  gtk_container_add(GTK_CONTAINER(window), area);
  gtk_widget_show_all(area);
  g_signal_connect_after(label_, "draw", G_CALLBACK(OnLabelDrawn), this);
  gtk_label_set_text(label_, Utf8(text).c_str());
  platform::AppendMessageLog(kTopTipLog, text);
  gtk_widget_show(window_.get());
  WaitForPaint();
}

void GtkTopTipWindow::Update(const std::string& text) {
  if (!window_) {
    Show(text);
    return;
  }
  platform::AppendMessageLog(kTopTipLog, text);
  std::string utf8 = Utf8(text);
  if (utf8 == gtk_label_get_text(label_)) return;
  gtk_label_set_text(label_, utf8.c_str());
  WaitForPaint();
}

void GtkTopTipWindow::Hide() {
  if (!window_) return;
  g_signal_handlers_disconnect_by_data(label_, this);
  window_.reset();
  label_ = nullptr;
  platform::AppendMessageLog(kTopTipLog, kHiddenLog);
}

// The UI loop turns until the label has drawn its new text. What else is
// due runs meanwhile, as in any wait that keeps the UI alive; a window the
// desktop does not draw (hidden, minimised) ends the wait after a moment.
void GtkTopTipWindow::WaitForPaint() {
  unsigned before = draws_;
  GtkWidget* window = window_.get();
  bool expired = false;
  guint limit = g_timeout_add(
      kPaintLimitMs,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired);
  while (!expired && draws_ == before && window_.get() == window) {
    g_main_context_iteration(nullptr, TRUE);
  }
  if (!expired) g_source_remove(limit);
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_flush(display);
}

gboolean GtkTopTipWindow::OnLabelDrawn(GtkWidget*, cairo_t*, gpointer self) {
  ++static_cast<GtkTopTipWindow*>(self)->draws_;
  return FALSE;
}

std::unique_ptr<NotificationWindows> GtkNotificationFactory::CreateNotificationWindows(
    uintptr_t owner_handle) {
  return std::make_unique<GtkNotificationWindows>(owner_handle);
}
