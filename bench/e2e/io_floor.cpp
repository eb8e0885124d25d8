// The input/output floor of one run: reads a record file whole and writes two files of given sizes,
// in the same 64 KiB blocks and with the same whole-file replacement as wavproc's files (the new
// text goes into a temporary file in the file's folder, is put on the disk and swapped with the
// file, whose older text is then removed), but without parsing, transforming or formatting
// anything. With --no-sync the temporary files are swapped in without being put on the disk first,
// as `wavproc --no-sync` does.
// Usage: io_floor [--no-sync] INPUT OUT1 SIZE1 OUT2 SIZE2
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

namespace {

constexpr std::size_t kBlock = 1 << 16;
char block[kBlock];
bool sync_before_rename = true;

// Reports what failed on which file and ends with status 2.
[[noreturn]] void fail(const char* what, const char* path) {
  std::fprintf(stderr, "io_floor: %s %s: %s\n", what, path, std::strerror(errno));
  _exit(2);
}

// Reads the file at path to its end, a block at a time; returns the bytes read.
std::size_t read_whole(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("open", path);
  std::size_t total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, block, kBlock);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("read", path);
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return total;
}

// Replaces the file at path by one of size bytes, the block's content over and over: opened as
// wavproc opens a file, the bytes written to a temporary file with the file's permission bits,
// which is put on the disk (unless --no-sync) and swapped with the file (renamed over it where
// there is none yet), the older file then removed.
void write_sized(const char* path, std::size_t size) {
  const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  struct stat st = {};
  if (fd < 0 || ::fstat(fd, &st) != 0) fail("open", path);
  char temp[4096];
  std::snprintf(temp, sizeof temp, "%s.io_floor-%ld.tmp", path, static_cast<long>(::getpid()));
  const int out = ::open(temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0 || ::fchmod(out, st.st_mode & 07777) != 0) fail("open", temp);
  ::close(fd);
  for (std::size_t left = size; left > 0;) {
    const std::size_t chunk = left < kBlock ? left : kBlock;
    const ssize_t n = ::write(out, block, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("write", temp);
    left -= static_cast<std::size_t>(n);
  }
  if (sync_before_rename && ::fdatasync(out) != 0) fail("fdatasync", temp);
  if (::close(out) != 0) fail("close", temp);
  if (::renameat2(AT_FDCWD, temp, AT_FDCWD, path, RENAME_EXCHANGE) == 0) {
    if (::unlink(temp) != 0) fail("unlink", temp);
  } else if (::rename(temp, path) != 0) {
    fail("rename", temp);
  }
}

// The byte count written in text, or false when it is not a plain decimal number.
bool parse_size(std::string_view text, std::size_t& size) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--no-sync") {
    sync_before_rename = false;
    --argc;
    ++argv;
  }
  std::size_t size1 = 0, size2 = 0;
  if (argc != 6 || !parse_size(argv[3], size1) || !parse_size(argv[5], size2)) {
    std::fputs("usage: io_floor [--no-sync] INPUT OUT1 SIZE1 OUT2 SIZE2\n", stderr);
    return 2;
  }
  // The block still holds the input's last bytes: any content will do, only the sizes matter.
  read_whole(argv[1]);
  write_sized(argv[2], size1);
  write_sized(argv[4], size2);
  return 0;
}
