// Requests through a tunnelling proxy named by https_proxy: the answer the
// caller sees is the server's, never the proxy's "Connection established".
#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>

#include "net/request_helpers.h"
#include "net/transfer_seams.h"
#include "tests/support/connect_proxy.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_certificates.h"
#include "tests/support/tls_loopback_server.h"

namespace {

using testing_support::ConnectProxy;
using testing_support::TestCertificateAuthority;
using testing_support::TlsLoopbackServer;

// Sets (or, with null, removes) an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class HttpsProxyTest : public testing_support::Sandbox {
 protected:
  void TearDown() override {
    net_testing::ResetTransferSeams();
    Sandbox::TearDown();
  }
};

TEST_F(HttpsProxyTest, GetThroughTheProxyReportsTheServersStatusAndBody) {
  TestCertificateAuthority ca(dir(), "test-ca");
  TlsLoopbackServer server(ca.Issue("server", {}));
  ASSERT_TRUE(server.valid());
  server.server().Get("/servers.txt", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("app#1#a#1#http://a;dat#1#b#1#http://b", "text/plain");
  });
  server.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such list", "text/plain");
  });
  server.Start();
  net_testing::SetTrustedCaFile(ca.cert_file());

  ConnectProxy proxy;
  ScopedEnvironment https_proxy("https_proxy", proxy.Url().c_str());
  ScopedEnvironment no_proxy("no_proxy", nullptr);
  ScopedEnvironment no_proxy_upper("NO_PROXY", nullptr);

  struct Case {
    const char* path;
    int32_t result;
    const char* text;
    const char* status_text;
  };
  const Case cases[] = {
      {"/servers.txt", 0, "app#1#a#1#http://a;dat#1#b#1#http://b", ""},
      // The case that read as success with an empty list.
      {"/missing", 1009404, "no such list", "Not Found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string text, status_text;
    bool is_text = false;
    EXPECT_EQ(HttpGetToFile(nullptr, false, &text, &is_text, Path("out.txt"), &status_text,
                            server.Url(c.path)),
              c.result);
    EXPECT_TRUE(is_text);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(status_text, c.status_text);
  }
  // Both went through the tunnel, and only the success reached the file.
  EXPECT_EQ(proxy.Connects().size(), 2u);
  EXPECT_EQ(ReadFile("out.txt"), "app#1#a#1#http://a;dat#1#b#1#http://b");
}

}  // namespace
