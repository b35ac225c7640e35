#include "app/notification_windows.h"

#include <atomic>

namespace {

std::atomic<NotificationFactory*> g_factory{nullptr};

}  // namespace

void SetNotificationFactory(NotificationFactory* factory) {
  g_factory.store(factory);
}

NotificationFactory* GetNotificationFactory() {
  return g_factory.load();
}

void ShowTopTip(const std::string& text) {
  if (NotificationFactory* factory = GetNotificationFactory()) factory->TopTip().Show(text);
}

void UpdateTopTip(const std::string& text) {
  if (NotificationFactory* factory = GetNotificationFactory()) factory->TopTip().Update(text);
}

void HideTopTip() {
  if (NotificationFactory* factory = GetNotificationFactory()) factory->TopTip().Hide();
}
