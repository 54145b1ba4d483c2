#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/files-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string At(const std::string &name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  // Whatever the writer left in the folder besides `keep`.
  std::vector<std::string> Others(const std::string &keep) const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_))
      if (entry.path().filename() != keep) names.push_back(entry.path().filename().string());
    return names;
  }
  fs::path dir_;
};

TEST_F(FilesTest, OnlyRegularFilesAreOpenedAndNoneBlocks) {
  std::ofstream(At("file"), std::ios::binary) << "0123456789";
  ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0600), 0);
  fs::create_directory(At("folder"));
  const struct {
    std::string path;
    const char *error;
  } refused[] = {
      {At("fifo"), "is not a regular file"},  // no writer: a blocking open would wait for ever
      {"/dev/zero", "is not a regular file"},
      {At("folder"), "is not a regular file"},
      {At("missing"), "cannot open"},
  };
  for (const auto &r : refused) {
    std::string error;
    EXPECT_EQ(OpenRegularFile(r.path, &error), nullptr) << r.path;
    EXPECT_NE(error.find(r.error), std::string::npos) << r.path << ": " << error;
  }
  std::string error;
  auto stream = OpenRegularFile(At("file"), &error);
  ASSERT_NE(stream, nullptr) << error;
  stream->seekg(0, std::ios::end);
  EXPECT_EQ(stream->tellg(), 10);
  char bytes[4] = {};
  stream->seekg(6);
  ASSERT_TRUE(stream->read(bytes, 4));
  EXPECT_EQ(std::string(bytes, 4), "6789");
  EXPECT_FALSE(stream->read(bytes, 1)) << "nothing past the end";
}

TEST_F(FilesTest, AWrittenFileIsPrivateWholeAndRedirectsNowhere) {
  const mode_t saved = ::umask(022);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(At("settings.json"), "first", &error)) << error;
  ASSERT_TRUE(WriteFileAtomically(At("settings.json"), "second", &error)) << error;
  ::umask(saved);
  struct stat st {};
  ASSERT_EQ(::stat(At("settings.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Read(At("settings.json")), "second");
  EXPECT_TRUE(Others("settings.json").empty());

  // A link planted under the name is replaced, not written through.
  std::ofstream(At("victim"), std::ios::binary) << "untouched";
  fs::create_symlink(At("victim"), At("linked.json"));
  ASSERT_TRUE(WriteFileAtomically(At("linked.json"), "backup", &error)) << error;
  EXPECT_EQ(Read(At("victim")), "untouched");
  EXPECT_FALSE(fs::is_symlink(At("linked.json")));
  EXPECT_EQ(Read(At("linked.json")), "backup");
}

TEST_F(FilesTest, AFailedWriteLeavesTheTargetAndNoTemporaryFile) {
  fs::create_directory(At("taken"));  // a folder where the file should go: the rename fails
  std::string error;
  EXPECT_FALSE(WriteFileAtomically(At("taken"), "x", &error));
  EXPECT_NE(error.find("cannot rename"), std::string::npos) << error;
  EXPECT_TRUE(Others("taken").empty());
  EXPECT_TRUE(fs::is_directory(At("taken")));
  EXPECT_FALSE(WriteFileAtomically(At("no/such/folder/f.json"), "x", &error));
  EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
}

}  // namespace
}  // namespace platform
