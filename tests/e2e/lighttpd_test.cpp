// The program behind a real web server: lighttpd with mod_cgi on a free
// loopback port serves the top page.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "cgi_runner.h"
#include "http_client.h"

using mwtest::CgiSandbox;

TEST(Lighttpd, ServesTheTopPage) {
  CgiSandbox box;
  box.write_file("top.html", "<html><body>\x90\x7D\x8F\x91\x8A\xD9 <#MIRELWEB></body></html>");
  mwtest::Lighttpd server(box);
  auto response = mwtest::http_get(server.port(), "/cgi-bin/mirelweb");
  EXPECT_EQ(response.status, 200) << response.raw;
  EXPECT_NE(response.body.find("\x90\x7D\x8F\x91\x8A\xD9"), std::string::npos) << response.raw;
  EXPECT_NE(response.raw.find("Content-Type: text/html"), std::string::npos) << response.raw;
  auto unknown = mwtest::http_get(server.port(), "/cgi-bin/mirelweb/unknown?x=1");
  EXPECT_EQ(unknown.status, 200) << unknown.raw;
  EXPECT_EQ(unknown.body, response.body);
}
