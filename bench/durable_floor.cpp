// The floor panefix is measured against: the least a program can do that makes the same durable
// steps, with none of panefix's rules. In the current folder it copies Qtv.ini to
// Qtv.ini_widthBack through a new file, flushed and renamed, with the folder flushed; then writes
// Qtv.ini with its first line that begins with LISTWIDTH= set to the width given, through a new
// file, flushed and renamed, with the folder flushed again. Whole-file reads and writes, no
// section, no line rules, no checks beyond the system calls' results.
//
//   durable_floor WIDTH
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

bool ReadWhole(const char* name, std::string* bytes) {
  int descriptor = open(name, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return false;
  }
  char buffer[1 << 16];
  ssize_t count = 0;
  while ((count = read(descriptor, buffer, sizeof buffer)) > 0) {
    bytes->append(buffer, static_cast<size_t>(count));
  }
  close(descriptor);
  return count == 0;
}

// Writes bytes to a new file beside name, flushes it, renames it over name, flushes the folder.
bool ReplaceDurably(int folder, const char* name, const std::string& bytes) {
  std::string temporary = std::string(name) + ".floor";
  int descriptor =
      openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = write(descriptor, bytes.data() + done, bytes.size() - done);
    if (count <= 0) {
      close(descriptor);
      return false;
    }
    done += static_cast<size_t>(count);
  }
  bool ok = fsync(descriptor) == 0;
  ok = close(descriptor) == 0 && ok;
  ok = ok && renameat(folder, temporary.c_str(), folder, name) == 0;
  return ok && fsync(folder) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: durable_floor WIDTH\n", stderr);
    return 2;
  }
  std::string text;
  int folder = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || !ReadWhole("Qtv.ini", &text) ||
      !ReplaceDurably(folder, "Qtv.ini_widthBack", text)) {
    std::perror("durable_floor: backup");
    return 1;
  }
  const std::string key = "LISTWIDTH=";
  size_t line = text.compare(0, key.size(), key) == 0 ? 0 : text.find("\n" + key);
  if (line == std::string::npos) {
    std::fputs("durable_floor: no LISTWIDTH= line\n", stderr);
    return 1;
  }
  size_t start = line == 0 ? 0 : line + 1;
  size_t end = text.find_first_of("\r\n", start);
  text.replace(start, (end == std::string::npos ? text.size() : end) - start, key + argv[1]);
  if (!ReplaceDurably(folder, "Qtv.ini", text)) {
    std::perror("durable_floor: rewrite");
    return 1;
  }
  close(folder);
  return 0;
}
