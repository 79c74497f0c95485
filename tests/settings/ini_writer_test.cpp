#include "settings/ini_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/file_helpers.h"
#include "testkit/files.h"

namespace kelvane {
namespace {

using testkit::failureOf;
using testkit::getBytes;
using testkit::putBytes;

const std::string kSec = "Initialization";

// Posts wait while another process holds the file: reads see them at once,
// and they go out in one rewrite after the one under way, beside the keys
// the other process wrote.
TEST(IniWriterTest, PostedKeysAreReadAtOnceAndCoalesceKeepingOtherWritersKeys) {
  testkit::ScratchFolder folder;
  const std::string file = folder.path("Kelvane.ini");
  putBytes(file, "[Initialization]\r\nA=old\r\nKept=1\r\n");
  IniWriter writer(file, kSec);
  {
    const WriteLock other(file, 0);
    for (int n = 0; n < 50; ++n) writer.post({{n % 2 ? "a" : "A", std::to_string(n)}, {"B", "b "}});
    EXPECT_EQ(failureOf([&] { writer.post({{"C", "1"}, {"D", "x\ny"}}); }), rt::InvalidProcedureCall);
    EXPECT_EQ(writer.read(" a"), "49");
    EXPECT_EQ(writer.read("B"), "b");  // as the file gives it back
    EXPECT_TRUE(writer.pending());
  }
  writer.flush();
  EXPECT_LE(writer.rewrites(), 2);
  EXPECT_FALSE(writer.pending());
  EXPECT_EQ(getBytes(file), "[Initialization]\r\nA=49\r\nKept=1\r\nB=b \r\n");

  IniStore(file).write(kSec, "Theirs", "x");  // another process
  EXPECT_EQ(writer.read("Theirs"), "x");
  writer.post({{"A", "50"}});
  writer.write({{"E", "5"}});  // what is posted goes first, in the same rewrite
  EXPECT_EQ(getBytes(file), "[Initialization]\r\nA=50\r\nKept=1\r\nB=b \r\nTheirs=x\r\nE=5\r\n");
  EXPECT_EQ(writer.read("C"), "");
}

// A failed background write is told on the owner's thread and keeps its keys,
// behind those posted since, until a write succeeds; the end writes them.
TEST(IniWriterTest, FailedWritesAreToldLaterAndLoseNoKey) {
  testkit::ScratchFolder folder;
  putBytes(folder.path("Kelvane"), "a file where the folder belongs");  // root cannot write there either
  const std::string file = folder.path("Kelvane/Kelvane.ini");
  std::atomic<int> notices = 0;
  {
    IniWriter writer(file, kSec);
    writer.setFailureNotice([&] { ++notices; });
    writer.post({{"A", "1"}, {"B", "1"}});
    std::vector<std::exception_ptr> failures;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         failures.empty() && std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(10)))
      failures = writer.takeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failureOf([&] { std::rethrow_exception(failures[0]); }), rt::PathNotFound);
    EXPECT_EQ(notices, 1);
    writer.post({{"b", "2"}});
    EXPECT_EQ(writer.read("A") + writer.read("B"), "12");
    EXPECT_EQ(failureOf([&] { writer.flush(); }), rt::PathNotFound);
    EXPECT_TRUE(writer.pending());

    std::filesystem::remove(folder.path("Kelvane"));
    std::filesystem::create_directory(folder.path("Kelvane"));
    writer.flush();
    EXPECT_EQ(getBytes(file), "[Initialization]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(writer.rewrites(), 0);  // all on this thread, none left to the writer
    writer.post({{"C", "3"}});
  }
  EXPECT_EQ(getBytes(file), "[Initialization]\r\nA=1\r\nB=2\r\nC=3\r\n");
  EXPECT_TRUE(notices <= 2);  // the post before the flush may have been tried again
}

}  // namespace
}  // namespace kelvane
