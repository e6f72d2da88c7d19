// [Web] LockWaitSeconds of mirelweb.ini: the wait for the database lock in
// milliseconds, 60 seconds unless a whole number from 0 to 60 says less.
#include <gtest/gtest.h>

#include "config/mw_settings.h"
#include "tests/config/temp_dir.h"

using namespace Mirel::MirelWeb;

TEST(LockWaitSeconds, ReadFromSectionWeb) {
  const struct {
    const char* ini;
    uint32_t wait_ms;
  } cases[] = {
      {"[Path]\r\nHtml=/t/\r\n", 60000},
      {"[Web]\r\nLockWaitSeconds=0\r\n", 0},
      {"[web]\r\nlockwaitseconds=15\r\n", 15000},
      {"[Web]\r\nLockWaitSeconds=60\r\n", 60000},
      {"[Web]\r\nLockWaitSeconds=61\r\n", 60000},
      {"[Web]\r\nLockWaitSeconds=-1\r\n", 60000},
      {"[Web]\r\nLockWaitSeconds=5s\r\n", 60000},
      {"[Limits]\r\nLockWaitSeconds=5\r\n", 60000},
  };
  for (const auto& c : cases) {
    mwtest::TempDir dir;
    mwtest::write_file(dir / "mirelweb.ini", c.ini);
    EXPECT_EQ(read_limits(dir.path()).lock_wait_ms, c.wait_ms) << c.ini;
  }
}
