// The sample site installed the way the README's deployment section lays
// it out, served by a web server configured with the README's recipe
// (docs/deploy/): the recipe's paths are replaced by the test's own and
// nothing else in it is changed. When the test runs as root the server's
// workers run as www-data, as on a real machine, and the files the layout
// gives to www-data are owned by it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "http_client.h"
#include "sample_site.h"

namespace mwtest {

// A recipe of docs/deploy/ as written.
std::string recipe_text(const std::string& name);

// The sample site in the deployment layout: the program with the database
// tool, both ini files and Error.txt in the program directory (standing for
// /srv/mirelweb/cgi-bin/), the stylesheet in www/, a cache directory of its
// own (/var/cache/mirelweb) and the lock directory tmp/ (/var/lib/mirelweb/tmp).
class DeployedSite {
 public:
  DeployedSite();

  SampleSite site;
  std::string cache_dir() const { return site.box.dir() + "cache"; }
  // The recipe `name` with the layout's paths replaced by this site's.
  std::string recipe(const std::string& name) const;
  // Whether the test runs as root (the workers then run as www-data).
  static bool as_root();
  // Names of the entries of the lock directory.
  std::vector<std::string> lock_dir_entries() const;
};

// A served deployment: start() runs the web server on a free loopback port
// (stopped by the destructor); a request carrying "X-Test-Https: on" reaches
// the program with HTTPS=on, as one that came over TLS would.
class WebServer {
 public:
  virtual ~WebServer() = default;
  virtual int port() const = 0;
  virtual std::string error_log() const = 0;
};

std::unique_ptr<WebServer> serve_with_lighttpd(const DeployedSite& d);
std::unique_ptr<WebServer> serve_with_apache(const DeployedSite& d);

}  // namespace mwtest
