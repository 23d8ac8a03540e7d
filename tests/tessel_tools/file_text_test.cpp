#include "tessel_tools/file_text.hpp"

#include <gtest/gtest.h>

#include "test_support/run_program.hpp"

namespace tessel_tools {
namespace {

TEST(FileText, ReadsWholeFilesUpToTheBound) {
  std::FILE* file = std::tmpfile();
  const std::string text(20000, 'x');
  std::fwrite(text.data(), 1, text.size(), file);
  for (std::size_t limit : {std::size_t{20000}, std::size_t{1} << 20}) {
    std::rewind(file);
    EXPECT_EQ(read_whole_file(file, limit), text);
  }
  std::rewind(file);
  EXPECT_EQ(read_whole_file(file, 19999).error(), "the file is larger than the 19999 bytes this input may hold");
  std::fclose(file);
}

TEST(FileText, EndlessInputsEndWithAnError) {
  const auto run = test_support::run_replay(
      {test_support::data_path("replay.json"), "--phase", "7", "--baseline", "/dev/zero"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "Error: parse baseline /dev/zero\n\nCaused by:\n    the file is larger than the 268435456 bytes this input "
            "may hold\n");
}

}  // namespace
}  // namespace tessel_tools
