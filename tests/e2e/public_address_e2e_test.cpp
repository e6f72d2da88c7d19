// The address every link and redirect begins with: https:// for a request
// that came over TLS, and the installation's BaseUrl (mirelweb.ini, [Path])
// in place of scheme, Host and script name when it is set.
#include <gtest/gtest.h>

#include <string>

#include "catalogue_site.h"

using mwtest::CatalogueSite;

namespace {

TEST(PublicAddress, LinksAndRedirectFollowTlsAndBaseUrl) {
  CatalogueSite site;
  site.write_template("top.html", "<#BACK_TO_HOME caption=top>");
  struct Case {
    const char* name;
    std::string tls_variable, tls_value, base_url;
    std::string base;
  };
  const Case cases[] = {
      {"plain", "", "", "", "http://lib.example/cgi-bin/mirelweb"},
      {"HTTPS=on", "HTTPS", "on", "", "https://lib.example/cgi-bin/mirelweb"},
      {"REQUEST_SCHEME=https", "REQUEST_SCHEME", "https", "", "https://lib.example/cgi-bin/mirelweb"},
      {"BaseUrl", "", "", "https://opac.example.jp:8443/opac/", "https://opac.example.jp:8443/opac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    site.box.write_file("mirelweb.ini", "[Path]\r\nHtml=" + site.box.dir() +
                                            "tpl/\r\nDb=TESTLIB\r\nBaseUrl=" + c.base_url + "\r\n");
    auto env = site.env("/", "");
    if (!c.tls_variable.empty()) env[c.tls_variable] = c.tls_value;
    EXPECT_EQ(site.run(env).body(),
              "<a href=\"" + c.base + "\" class=\"back_to_home\">top</a>");
    auto empty_search = site.env("/list", "SYOMEI=");
    if (!c.tls_variable.empty()) empty_search[c.tls_variable] = c.tls_value;
    EXPECT_NE(site.run(empty_search).headers().find("Location: " + c.base + "\r\n"),
              std::string::npos);
  }
}

}  // namespace
