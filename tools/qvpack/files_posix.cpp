// qvpack's files on Linux. Windows attributes come from where Wine keeps
// them: read-only in the permission bits, hidden and system in the
// user.DOSATTRIB extended attribute ("0x2"), archive on every file.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/qvpack/files.h"

namespace qv::qvpack {

namespace {

constexpr char kDosAttributes[] = "user.DOSATTRIB";
// Seconds from 1601 (FILETIME's start) to 1970.
constexpr std::int64_t kEpochDifference = 11644473600LL;

std::uint64_t ToFileTime(const timespec& t) {
  const std::int64_t seconds = static_cast<std::int64_t>(t.tv_sec) + kEpochDifference;
  if (seconds < 0) return 0;
  return static_cast<std::uint64_t>(seconds) * 10000000u + static_cast<std::uint64_t>(t.tv_nsec) / 100u;
}

timespec FromFileTime(std::uint64_t ft) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ft / 10000000u) - kEpochDifference);
  t.tv_nsec = static_cast<long>(ft % 10000000u) * 100;
  return t;
}

std::uint32_t WindowsAttributes(const std::string& path, const struct stat& st) {
  std::uint32_t a = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if (!(st.st_mode & S_IWUSR)) a |= kAttrReadOnly;
  char value[64];
  const ssize_t n = ::getxattr(path.c_str(), kDosAttributes, value, sizeof value - 1);
  // Wine writes "0x" and hexadecimal digits; Samba's binary form is not ours.
  if (n > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    value[n] = '\0';
    a |= static_cast<std::uint32_t>(std::strtoul(value + 2, nullptr, 16));
  }
  return a & kKeptAttributes;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

class Scanner {
 public:
  Scanner(const std::string& skip, std::vector<Item>& items, std::vector<Problem>& problems)
      : items_(items), problems_(problems) {
    struct stat st;
    if (!skip.empty() && ::stat(skip.c_str(), &st) == 0) {
      skipDevice_ = st.st_dev;
      skipInode_ = st.st_ino;
      skipping_ = true;
    }
  }

  void Scan(const std::string& disk, const std::string& relative) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(disk.c_str()));
    if (!dir) {
      Report(relative.empty() ? disk : relative, "cannot be read: " + LastErrorText());
      return;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir.get())) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return NameBefore(a, b); });
    for (const std::string& name : names) {
      const std::string path = disk + "/" + name;
      const std::string rel = relative.empty() ? name : relative + "\\" + name;
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) {
        Report(rel, "cannot be read: " + LastErrorText());
        continue;
      }
      if (S_ISLNK(st.st_mode)) {
        // A linked file is packed as the file; a linked folder could loop.
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
          Report(rel, "is a link to no file: left out");
          continue;
        }
      }
      if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        Report(rel, "is neither a file nor a folder: left out");
        continue;
      }
      if (skipping_ && st.st_dev == skipDevice_ && st.st_ino == skipInode_) continue;
      Item item;
      item.path = rel;
      item.diskPath = path;
      item.attributes = WindowsAttributes(path, st);
      item.modified = ToFileTime(st.st_mtim);
      item.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
      items_.push_back(item);
      if (S_ISDIR(st.st_mode)) Scan(path, rel);
    }
  }

 private:
  void Report(const std::string& what, const std::string& text) {
    problems_.push_back({0, Severity::Warning, "'" + what + "' " + text});
  }

  std::vector<Item>& items_;
  std::vector<Problem>& problems_;
  bool skipping_ = false;
  dev_t skipDevice_ = 0;
  ino_t skipInode_ = 0;
};

class PosixSource : public pack::ByteSource {
 public:
  PosixSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixSource() override { ::close(fd_); }
  PosixSource(const PosixSource&) = delete;
  PosixSource& operator=(const PosixSource&) = delete;
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n) override {
    char* p = static_cast<char*>(buffer);
    while (n > 0) {
      const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      p += got;
      n -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

class PosixOutput : public OutputFile {
 public:
  PosixOutput(std::FILE* file, std::string writing, std::string final)
      : file_(file), writing_(std::move(writing)), final_(std::move(final)) {}
  ~PosixOutput() override {
    if (file_) std::fclose(file_);
    if (!committed_) ::unlink(writing_.c_str());
  }
  PosixOutput(const PosixOutput&) = delete;
  PosixOutput& operator=(const PosixOutput&) = delete;
  bool Write(const void* data, std::size_t n) override {
    if (std::fwrite(data, 1, n, file_) != n) return false;
    if (written) written(n);
    return true;
  }
  bool Commit() override {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed) return false;
    if (writing_ != final_ && ::rename(writing_.c_str(), final_.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  std::FILE* file_;
  std::string writing_, final_;
  bool committed_ = false;
};

}  // namespace

std::vector<Item> ScanFolder(const std::string& folder, const std::string& skip, std::vector<Problem>& problems) {
  std::vector<Item> items;
  Scanner(skip, items, problems).Scan(folder, "");
  return items;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderHasEntries(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
  if (!dir) return false;
  while (const dirent* e = ::readdir(dir.get()))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) return true;
  return false;
}

bool MakeFolders(const std::string& path) {
  if (path.empty() || IsFolder(path)) return true;
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

std::string DiskPath(const std::string& folder, const std::string& packagePath) {
  std::string p = packagePath;
  std::replace(p.begin(), p.end(), '\\', '/');
  return folder + "/" + p;
}

std::unique_ptr<pack::ByteSource> OpenFileSource(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSource>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path, bool viaTemporary) {
  const std::string writing = viaTemporary ? path + ".qvpack-part" : path;
  std::FILE* f = std::fopen(writing.c_str(), "wb");
  if (!f) return nullptr;
  return std::make_unique<PosixOutput>(f, writing, path);
}

std::string SetFileDetails(const std::string& path, std::uint32_t attributes, std::uint64_t modified) {
  // What Wine keeps beside the permission bits; nothing kept, nothing written.
  const std::uint32_t extra =
      attributes & kKeptAttributes & ~(kAttrReadOnly | kAttrArchive | kAttrDirectory);
  if (extra != 0) {
    char value[16];
    const int n = std::snprintf(value, sizeof value, "0x%x", extra);
    // A file system without user attributes keeps the file without them.
    if (::setxattr(path.c_str(), kDosAttributes, value, static_cast<std::size_t>(n), 0) != 0 &&
        errno != ENOTSUP && errno != EPERM)
      return "cannot keep its attributes: " + LastErrorText();
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return LastErrorText();
  const mode_t mode = (attributes & kAttrReadOnly) ? (st.st_mode & ~mode_t(0222)) : (st.st_mode | S_IWUSR);
  if (::chmod(path.c_str(), mode & 07777) != 0) return "cannot be made read-only: " + LastErrorText();
  const timespec times[2] = {{0, UTIME_OMIT}, FromFileTime(modified)};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return "cannot keep its time: " + LastErrorText();
  return {};
}

std::string LastErrorText() { return std::strerror(errno); }

std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  const std::string self(buffer, static_cast<std::size_t>(n));
  return self.substr(0, self.find_last_of('/'));
}

std::string DecodeAnsi(unsigned, std::string_view bytes) {
  iconv_t cd = ::iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(bytes);
  std::string out(bytes.size() * 3 / 2 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* o = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (::iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1)) break;
    const std::size_t used = static_cast<std::size_t>(o - out.data());
    if (errno == E2BIG || outLeft < 3) {
      out.resize(out.size() * 2);
      o = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    // A byte GBK does not know stands for itself, as U+FFFD.
    std::memcpy(o, "\xEF\xBF\xBD", 3);
    o += 3;
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  ::iconv_close(cd);
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

bool IsTerminal(Stream stream) { return ::isatty(stream == Stream::Out ? 1 : 2) != 0; }

void Print(Stream stream, std::string_view text) {
  std::FILE* f = stream == Stream::Out ? stdout : stderr;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fflush(f);
}

}  // namespace qv::qvpack
