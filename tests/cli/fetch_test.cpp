// gleanmark-cli fetch over http, https and file addresses, against a stock nginx.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../net/support/nginx_server.h"

namespace {

struct Result {
  int status;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FetchCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/gm_cli_fetch_XXXXXX";
    dir = mkdtemp(tmpl);
    std::filesystem::permissions(dir, std::filesystem::perms::all &
                                          ~std::filesystem::perms::group_write &
                                          ~std::filesystem::perms::others_write);
    root = dir + "/www";
    std::filesystem::create_directories(root + "/sub");
    std::ofstream(root + "/gbk.html", std::ios::binary)
        << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
           "</head><body>\xD6\xD0\xCE\xC4</body></html>";
    std::ofstream(root + "/sub/index.html") << "sub index";
    std::string cmd =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost "
        "-addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout " +
        dir + "/key.pem -out " + dir + "/cert.pem >/dev/null 2>&1";
    have_cert = std::system(cmd.c_str()) == 0;
    nginx = new gm::test::CNginxServer(root, have_cert ? dir + "/cert.pem" : "",
                                       have_cert ? dir + "/key.pem" : "");
  }
  static void TearDownTestSuite() {
    delete nginx;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  void SetUp() override {
    if (!nginx->ok()) GTEST_SKIP() << "nginx is not available";
  }

  // Runs the command line with its own data folder; `env` is put in front.
  static Result Run(const std::string& args, const std::string& env = "") {
    std::string out = dir + "/out", err = dir + "/err";
    std::string cmd = "XDG_DATA_HOME=" + dir + "/data " + env + " timeout 60 " GM_CLI " fetch " +
                      args + " >" + out + " 2>" + err;
    int rc = std::system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadAll(out), ReadAll(err)};
  }
  std::string Http(const std::string& path) { return nginx->Url(path); }

  static inline std::string dir, root;
  static inline bool have_cert = false;
  static inline gm::test::CNginxServer* nginx = nullptr;
};

TEST_F(FetchCli, HttpBodyIsDecodedToUtf8AndRedirectsAreFollowed) {
  Result r = Run(Http("/gbk.html"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("<body>中文</body>"), std::string::npos) << r.out;
  r = Run("-i " + Http("/sub"));  // nginx answers 301 to /sub/
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("HTTP/1.1 200 OK\r\n")) << r.out;
  EXPECT_TRUE(r.out.ends_with("\r\n\r\nsub index")) << r.out;
}

TEST_F(FetchCli, HttpsIsVerified) {
  if (!have_cert) GTEST_SKIP() << "openssl could not make a certificate";
  std::string url = "https://localhost:" + std::to_string(nginx->tls_port()) + "/sub/";
  Result r = Run(url, "SSL_CERT_FILE=" + dir + "/cert.pem");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "sub index");
  r = Run(url);  // the test certificate is not in the system store
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("error -13"), std::string::npos) << r.err;
}

TEST_F(FetchCli, FileAddressesAndFailures) {
  Result r = Run("file://" + root + "/sub/index.html");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "sub index");
  r = Run("file://" + root + "/missing.html");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("error -4"), std::string::npos) << r.err;
  r = Run("http://127.0.0.1:1/");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("error -8"), std::string::npos) << r.err;
  r = Run("");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
}

}  // namespace
