// Serves the sample site through lighttpd on a free loopback port and runs
// the browser walk against it:
//   browser_runner SCRIPT SCREENSHOT_DIR
// runs "node SCRIPT http://127.0.0.1:PORT/cgi-bin/mirelweb SCREENSHOT_DIR"
// with MW_NODE_MODULES naming the node modules of the build directory, and
// exits with the script's status. The site and the server are gone when it
// returns.
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sample_site.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: browser_runner SCRIPT SCREENSHOT_DIR\n");
    return 2;
  }
  int status = 0;
  {
    mwtest::SampleSite site;
    mwtest::Lighttpd server(site.box, site.lighttpd_conf());
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port()) + "/cgi-bin/mirelweb";
    const std::string modules = mwtest::node_dir() + "/node_modules";
    std::printf("sample site of %s at %s\n", site.today().c_str(), base.c_str());
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) return 1;
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::setenv("MW_NODE_MODULES", modules.c_str(), 1);
      ::execlp("node", "node", argv[1], base.c_str(), argv[2], static_cast<char*>(nullptr));
      std::perror("node");
      ::_exit(127);
    }
    ::waitpid(pid, &status, 0);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
