// The key file on Linux: 32 raw bytes, mode 0600, made whole with link() so that a
// reader never sees a half-written key.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "aead.h"
#include "key_store.h"

namespace vemtu::cipher {

namespace {

constexpr char kSystemKeyFile[] = "/etc/vemtu/cipher.key";

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// Creates the folders along `folder`; the last one readable by its owner only unless it
// is a system folder that exists already.
void MakeFolders(const std::string& folder) {
  if (folder.empty()) return;
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return;
  MakeFolders(FolderOf(folder));
  mkdir(folder.c_str(), 0700);
}

bool WriteAll(int fd, const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The folder of the running program (the agent, or vemtu-cipher beside it), with its
// trailing '/'; empty when it cannot be read.
std::string ProgramFolder() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string exe(path, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace

CipherStatus ReadKeyFile(const std::string& path, CipherKey& key) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? CipherStatus::kNoKey : CipherStatus::kBadKey;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return CipherStatus::kBadKey;
  if (st.st_mode & (S_IRWXG | S_IRWXO)) return CipherStatus::kExposedKey;
  unsigned char buffer[kKeyBytes + 1];
  std::size_t got = 0;
  while (got < sizeof buffer) {
    ssize_t n = read(fd.get(), buffer + got, sizeof buffer - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return CipherStatus::kBadKey;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got != kKeyBytes) return CipherStatus::kBadKey;
  for (std::size_t i = 0; i < kKeyBytes; ++i) key[i] = buffer[i];
  return CipherStatus::kOk;
}

CipherStatus CreateKeyFile(const std::string& path) {
  MakeFolders(FolderOf(path));
  CipherKey fresh;
  if (!FillRandom(fresh.data(), fresh.size())) return CipherStatus::kCryptoFailed;
  std::string temp = path + ".XXXXXX";
  int raw = mkstemp(&temp[0]);
  if (raw < 0) return CipherStatus::kNoKey;
  Descriptor fd(raw);
  bool written = fchmod(fd.get(), 0600) == 0 && WriteAll(fd.get(), fresh.data(), fresh.size()) &&
                 fsync(fd.get()) == 0;
  fresh.fill(0);
  // link() fails when the key appeared meanwhile: the first key made stays the key.
  bool linked = written && (link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
  unlink(temp.c_str());
  return linked ? CipherStatus::kOk : CipherStatus::kNoKey;
}

std::string KeyFilePath() {
  const char* chosen = std::getenv("VEMTU_CIPHER_KEY");
  if (chosen && *chosen) return chosen;
  // A folder with its own component registry (an installed agent folder) keeps its key.
  std::string folder = ProgramFolder();
  if (!folder.empty() && access((folder + "components.ini").c_str(), F_OK) == 0)
    return folder + "cipher.key";
  if (access(kSystemKeyFile, F_OK) == 0 || geteuid() == 0) return kSystemKeyFile;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/vemtu/cipher.key";
}

}  // namespace vemtu::cipher
