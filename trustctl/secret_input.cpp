#include "secret_input.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <openssl/crypto.h>

namespace Trustctl {
namespace {

constexpr std::size_t kMaxSecretBytes = 64 * 1024;

// Reads all of `fd` (at most kMaxSecretBytes) into a string wiped on failure.
bool ReadAll(int fd, std::string& text, std::string& error) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      break;
    }
    if (got == 0) {
      OPENSSL_cleanse(chunk, sizeof chunk);
      return true;
    }
    if (text.size() + static_cast<std::size_t>(got) > kMaxSecretBytes) {
      error = "longer than 64 KiB";
      break;
    }
    text.append(chunk, static_cast<std::size_t>(got));
  }
  OPENSSL_cleanse(chunk, sizeof chunk);
  if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
  return false;
}

// One line from the terminal with echo off, restored whatever happens.
bool Prompt(const std::string& what, std::string& text, std::string& error) {
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    error = "no terminal to ask for the " + what + " on";
    return false;
  }
  termios saved{};
  const bool isTerminal = ::tcgetattr(tty, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  const std::string prompt = what + ": ";
  (void)!::write(tty, prompt.data(), prompt.size());
  bool ok = true;
  for (;;) {
    char c = 0;
    const ssize_t got = ::read(tty, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    if (text.size() >= kMaxSecretBytes) {
      error = "longer than 64 KiB";
      ok = false;
      break;
    }
    text += c;
  }
  if (isTerminal) ::tcsetattr(tty, TCSAFLUSH, &saved);
  ::close(tty);
  if (!ok && !text.empty()) OPENSSL_cleanse(&text[0], text.size());
  return ok;
}

}  // namespace

std::optional<Tovri::SecretString> ReadSecret(const SecretSource& source, const std::string& what,
                                              std::string& error) {
  std::string text;
  std::string why;
  bool ok = false;
  if (source.file) {
    const int fd = ::open(source.file->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      why = std::strerror(errno);
    } else {
      ok = ReadAll(fd, text, why);
      ::close(fd);
    }
    if (!ok) error = "cannot read the " + what + " from " + *source.file + ": " + why;
  } else if (source.fromStdin) {
    ok = ReadAll(STDIN_FILENO, text, why);
    if (!ok) error = "cannot read the " + what + " from standard input: " + why;
  } else if (::isatty(STDIN_FILENO) == 1) {
    ok = Prompt(what, text, why);
    if (!ok) error = "cannot read the " + what + ": " + why;
  } else {
    error = "the " + what + " is needed: give a file, --stdin, or run on a terminal to be asked for it";
  }
  if (!ok) return std::nullopt;
  // A file or a pipe usually ends with a line end that is not part of it.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) {
    error = "the " + what + " is empty";
    return std::nullopt;
  }
  return Tovri::SecretString(std::move(text));
}

}  // namespace Trustctl
