// The catalogue request, its cache on disk and the stored catalogue.
#include "books/catalogue_sync.h"

#include "app/sealed_file.h"
#include "books/book_collection.h"
#include "books/book_paths.h"
#include "books/book_results.h"
#include "config/daily_log.h"
#include "config/parameter_store.h"
#include "net/request_helpers.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "util/file_io.h"
#include "util/json_escape.h"
#include "util/text_encoding.h"

namespace {

constexpr const char kSuccessMark[] = "\"Return\":\"0";

}  // namespace

bool CataloguePass::UserChanged() const {
  return collection && collection->User().uid != uid;
}

bool CataloguePass::ShouldEnd() const {
  return IsApplicationExiting() || (stop && stop->IsSet()) || UserChanged();
}

std::string CatalogueRequestText(const std::string& uid, const std::string& sessionid) {
  // Escaped, so that a quote in either cannot change the request's members.
  std::string u = uid;
  std::string s = sessionid;
  JsonEscapeString(u);
  JsonEscapeString(s);
  return "{\r\n\"Function\":\"DataAccess\",\"Callback\":\"\",\"UID\":\"" + u +
         "\",\"SessionID\":\"" + s +
         "\",\"ID\":\"\",\"Para\":{\r\n\t\"Dataset\":\"DTM\",\"Data\":\"Tomerack_Get\","
         "\"Condition\":[],\"ConditionName\":[]}}";
}

void RefreshCollectionAddresses(BookCollection& collection) {
  std::string data_root = GetParameter("wwwhome_data");
  std::string catalogue_url = GetParameter("url_getTomeRack");
  std::string app_root = GetParameter("wwwhome_app");
  collection.SetAddresses(catalogue_url, data_root, app_root);
}

int SyncCatalogue(BookCollection& collection, const platform::Event* stop) {
  UserInfo user = collection.User();
  if (user.uid.empty()) return 0;
  // The uid names the folder of the catalogue cache.
  if (!IsSafeUid(user.uid)) return 0;
  CataloguePass pass{&collection, user.uid, stop};
  std::string request = CatalogueRequestText(user.uid, user.sessionid);
  RefreshCollectionAddresses(collection);
  std::string token = GetParameter("_CONFIG_EF_token");
  if (token.empty()) return 0;

  std::string url = collection.CatalogueUrl() + "?" + std::to_string(platform::NowSeconds());
  std::string headers =
      "Content-Type: application/json;charset:utf-8\r\nAuthorization: " + token + "\r\n";
  std::string body = AnsiToUtf8(request);
  std::string reply;
  if (pass.ShouldEnd()) return 0;
  if (HttpRequestText(reply, "POST", url, body.data(), body.size(), headers) != kHttpOk) return 0;

  if (reply.find(kSuccessMark) != std::string::npos) {
    ProcessCatalogue(collection, user.uid, reply, false, &pass);
    // The next user's window must never show this one's books.
    if (pass.UserChanged()) return 1;
    std::string path = CataloguePath(user.uid);
    CreateParentDirectories(path);
    if (WriteSealedFile(reply, path) != kSealOk) WriteLogLine("ERR save catalogue:" + path);
  }
  return 1;
}

int ProcessCatalogue(BookCollection& collection, const std::string& uid, const std::string& text,
                     bool cache_only, const CataloguePass* pass) {
  std::vector<std::string> rows;
  int result = ParseCatalogueDataset(uid, text, rows);
  if (result != kBookOk) return result;
  if (pass && pass->UserChanged()) return kBookRefused;
  collection.catalogue().Store(text, rows);
  if (cache_only) return kBookOk;
  return ProcessCatalogueRows(collection, rows, pass);
}

int LoadCachedCatalogue(BookCollection& collection, const std::string& uid) {
  if (!IsSafeUid(uid)) return kBookReadFailed;
  std::string text;
  if (ReadSealedFile(CataloguePath(uid), kRecordOuterByte, text) != kSealOk) return kBookReadFailed;
  return ProcessCatalogue(collection, uid, text, true);
}

int GetCatalogueText(const BookCollection& collection, const std::string& uid, std::string& text) {
  UserInfo user = collection.User();
  if (uid.size() < 2 || uid != user.uid) return kBookRefused;
  text = collection.catalogue().RawText();
  return kBookOk;
}
