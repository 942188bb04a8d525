#include "core/fileops/properties.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestrum {
namespace {

TEST(Properties, UrisKeepExactBytesAndPermissionsReadAsLsShowsThem) {
  EXPECT_EQ(FileUri("/tmp/a b/\xff\"q\"\n"), "file:///tmp/a%20b/%FF%22q%22%0A");
  EXPECT_EQ(FileUri("relative"), "");
  EXPECT_EQ(PermissionText(S_IFDIR | 01777), "drwxrwxrwt (1777)");
  EXPECT_EQ(PermissionText(S_IFREG | 04644), "-rwSr--r-- (4644)");
  EXPECT_EQ(ByteCountText(1536), "1.5 kb (1 536 bytes)");
}

}  // namespace
}  // namespace kestrum
