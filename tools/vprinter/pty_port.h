// The printer's end of a pseudo-terminal pair. The host side opens the slave like
// any serial or printer device; the printer reads and writes the master.
#pragma once

#include <string>

namespace vprinter {

class PtyPort {
 public:
  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Creates the pair, sets it raw, keeps a slave descriptor open. The master is
  // non-blocking. On failure returns false with a message in *error.
  [[nodiscard]] bool open(std::string* error);
  // Points a symbolic link at the slave (replacing an older link, never a file).
  [[nodiscard]] bool publish_link(const std::string& link, std::string* error);
  // Removes the link if it still points at this slave, and closes everything.
  void close();

  int master_fd() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  const std::string& link_path() const { return link_; }

 private:
  int master_ = -1;
  int slave_ = -1;  // held so that clients may open and close the slave at will
  std::string slave_path_;
  std::string link_;
};

}  // namespace vprinter
