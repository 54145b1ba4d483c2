// The diagnosis's Linux facts against stand-ins on this machine (a port held by a second
// process, a node without permission), and the support bundle read back by other programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/diagnosis.h"
#include "core/diagnosis_probes.h"

namespace {

namespace fs = std::filesystem;
using namespace tillwright::diagnosis;

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tool-diagnosis-XXXXXX";
    EXPECT_NE(::mkdtemp(pattern), nullptr);
    path_ = pattern;
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string Path(const std::string &name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string Output(const std::string &command) {
  std::string out;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

// A pseudo-terminal's slave, as a stand-in for a device's port.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(::grantpt(master_), 0);
    EXPECT_EQ(::unlockpt(master_), 0);
    slave_ = ::ptsname(master_);
  }
  ~Pty() { ::close(master_); }
  const std::string &Slave() const { return slave_; }

 private:
  int master_ = -1;
  std::string slave_;
};

// A second process that opens `path`, locks it as the suite does when `lock`, says so, and
// waits to be ended.
class Holding {
 public:
  Holding(const std::string &path, bool lock) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
      if (fd < 0 || (lock && ::flock(fd, LOCK_EX | LOCK_NB) != 0)) ::_exit(1);
      const char byte = 1;
      if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
  }
  ~Holding() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

TEST(DiagnosisSystem, NamesTheProcessThatHoldsAPortLockedOrMerelyOpen) {
  for (const bool lock : {true, false}) {
    SCOPED_TRACE(lock ? "locked" : "open");
    Pty pty;
    const auto probes = SystemProbes();
    EXPECT_TRUE(probes->Holders(pty.Slave()).empty());
    const Holding holding(pty.Slave(), lock);
    // A fresh probe: the real one reads what processes hold once per run.
    const auto fresh = SystemProbes();
    const std::vector<Holder> holders = fresh->Holders(pty.Slave());
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, holding.Pid());
    // The forked test program keeps its name.
    EXPECT_FALSE(holders[0].name.empty());
    // The suite's exclusive open is refused while the lock is held.
    EXPECT_EQ(fresh->TryOpen(pty.Slave()), lock ? OpenResult::Busy : OpenResult::Opens);
  }
}

TEST(DiagnosisSystem, AccessOfANodeWithoutPermissionSaysModeAndOwner) {
  TempDir dir;
  const std::string node = dir.Path("node");
  std::ofstream(node) << "x";
  ASSERT_EQ(::chmod(node.c_str(), 0), 0);
  const NodeAccess a = SystemProbes()->Access(node);
  EXPECT_TRUE(a.exists);
  EXPECT_EQ(a.mode, 0u);
  EXPECT_FALSE(a.owner.empty());
  EXPECT_FALSE(a.group.empty());
  EXPECT_TRUE(a.inGroup);  // the file's group is this process's own
  EXPECT_FALSE(a.acl);
  // root opens anything; everyone else is refused.
  EXPECT_EQ(a.canOpen, ::geteuid() == 0);
  EXPECT_FALSE(SystemProbes()->Access(dir.Path("missing")).exists);
}

Report Sample() {
  Report r;
  r.findings.push_back({Verdict::Fail, "ports", "device silent: COM7 opens but nothing answers", "switch it on"});
  r.ports = {"COM7: opens, nothing answers (2500 ms)"};
  r.traces = {"seriallink tx (12 bytes): 01 2A 20 B0 [3 bytes masked] 05 30 31 32 33 03"};
  r.system = "Linux test";
  return r;
}

TEST(DiagnosisSystem, BundleIsAZipOrATarGzThatOtherProgramsRead) {
  TempDir dir;
  std::vector<BundleEntry> entries = BundleEntries(Sample());
  // Past one stored deflate block (65535 bytes), so that the gzip stream has several.
  entries.push_back({"settings-backup.json", std::string(70000, 'b') + "\xC3\xA9 end"});
  std::string names;
  for (const BundleEntry &e : entries) names += e.name + "\n";
  EXPECT_EQ(names,
            "report.txt\nreport.json\nversions.txt\ntraces.txt\nports.txt\nudev-rule.txt\nsettings-backup.json\n");

  for (const char *name : {"b.zip", "b.tar.gz", "B.TGZ"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.Path(name);
    std::string error;
    ASSERT_TRUE(WriteBundle(path, entries, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const bool zip = std::string(name).find(".zip") != std::string::npos;
    // Every entry comes back whole, byte for byte, through the other program's own checks.
    const std::string listing = zip ? Output("python3 -m zipfile -l '" + path + "' 2>&1 | tail -n +2 | cut -d' ' -f1")
                                    : Output("tar tzf '" + path + "' 2>&1");
    EXPECT_EQ(listing, names);
    const std::string unpack = dir.Path(std::string(name) + ".d");
    fs::create_directory(unpack);
    const std::string status =
        zip ? Output("python3 -m zipfile -e '" + path + "' '" + unpack + "' 2>&1 && echo unpacked")
            : Output("tar xzf '" + path + "' -C '" + unpack + "' 2>&1 && gzip -t < '" + path + "' && echo unpacked");
    EXPECT_EQ(status, "unpacked\n");
    for (const BundleEntry &e : entries) {
      std::ifstream f(unpack + "/" + e.name, std::ios::binary);
      std::stringstream s;
      s << f.rdbuf();
      EXPECT_EQ(s.str(), e.bytes) << e.name;
    }
  }
  const std::string versions = entries[2].bytes;
  EXPECT_NE(versions.find("vrn_interface "), std::string::npos) << versions;
  EXPECT_NE(versions.find("system Linux test\n"), std::string::npos) << versions;
}

TEST(DiagnosisSystem, BundleRefusesOtherEndingsAndNamesWithFolders) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteBundle(dir.Path("b.rar"), BundleEntries(Sample()), &error));
  EXPECT_NE(error.find("a .zip or a .tar.gz"), std::string::npos) << error;
  EXPECT_FALSE(WriteBundle(dir.Path("b.zip"), {{"../evil", "x"}}, &error));
  EXPECT_NE(error.find("no plain file name"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(dir.Path("b.rar")));
  EXPECT_FALSE(fs::exists(dir.Path("b.zip")));
  // A file that exists is replaced whole, not written through.
  const std::string target = dir.Path("old.zip");
  std::ofstream(target) << "old";
  ASSERT_TRUE(WriteBundle(target, BundleEntries(Sample()), &error)) << error;
  EXPECT_EQ(Output("python3 -m zipfile -t '" + target + "' 2>&1 | tail -1"), "Done testing\n");
}

}  // namespace
